#include "keyer/winkeyer.h"

#include <algorithm>

#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo {

namespace {

constexpr int kAccumulatorSize = 64;
constexpr int kStatusFullMark = 85;  // bit 0 of the status: more positions than this in use

constexpr uint8_t kStatusIdle = 0xC0;
constexpr uint8_t kStatusBreakIn = 0xC2;
constexpr uint8_t kStatusBusy = 0xC4;
constexpr uint8_t kStatusBreakInBusy = 0xC6;
constexpr uint8_t kStatusKeyDown = 0xC8;

constexpr uint8_t kBusyBit = 0x04;

constexpr uint8_t kHostOpenReply = 0x0A;

// A pot byte is 10xxxxxx: the speed above the pot minimum, in 0..63.
constexpr uint8_t kPotByte = 0x80;
constexpr int kPotSteps = 63;

// The box holds only a few characters it has not reported starting; the bound keeps the
// counts sane if it drops some without telling.
constexpr int kMaxUnreported = 8;

constexpr uint8_t kBufferedSpeed = 0x1C;
constexpr uint8_t kCancelSpeed = 0x1E;
constexpr uint8_t kBufferedNop = 0x1F;

constexpr int kNoSetting = 65535;

uint8_t Translate(uint8_t b) {
    switch (b) {
        case '|':
            return '#';
        case ':':
            return '(';
        case '>':
            return '[';
        case ';':
            return '*';
        default:
            break;
    }
    if (b >= 0x61 && b <= 0x7F) {
        return '?';
    }
    return b;
}

uint8_t Low8(int v) {
    return static_cast<uint8_t>(v & 0xFF);
}

}  // namespace

WinKeyer::WinKeyer(IBoxSender& box, BoxState& state, IKeyerPort& port, ISwitchingControl& switching,
                   SettingsStore& settings, IEventLog& log, const IVerbose& verbose,
                   const IKeyerOptions& options)
    : box_(box),
      state_(state),
      port_(port),
      switching_(switching),
      settings_(settings),
      log_(log),
      verbose_(verbose),
      options_(options),
      editor_(buf_, box, log, verbose, options) {}

// ---------------------------------------------------------------------------------------
// Byte intake

void WinKeyer::OnKeyerByte(uint32_t error, int32_t value) {
    if (error != 0) {
        if (error == platform::kErrorBrokenPipe) {
            // The logger is gone: the command it left half sent is not the next one's.
            count_ = 0;
            return;
        }
        platform::SetLastError(error);
        log_.LogLastError("KE Read Thread: ");
        return;
    }
    if (value == 0xFFFF) {
        return;
    }
    if (count_ >= kAccumulatorSize) {
        log_.LogMessage("Keyer parsing failure, trying to resync");
        count_ = 0;
        return;
    }
    acc_[static_cast<size_t>(count_++)] = Low8(value);
    if (acc_[0] != 0x00) {
        ImplicitHostOpen();
    }
    switch (Interpret()) {
        case Parse::kIncomplete:
            return;
        case Parse::kBad:
            LogCommand("Bad KE command");
            break;
        case Parse::kDone:
            if (VerboseKeyer()) {
                LogCommand("* KE command");
            }
            break;
    }
    count_ = 0;
}

void WinKeyer::LogCommand(const char* prefix) {
    if (count_ >= 3) {
        log_.LogBytes3(prefix, acc_[0], acc_[1], acc_[2]);
    } else if (count_ == 2) {
        log_.LogBytes2(prefix, acc_[0], acc_[1]);
    } else {
        log_.LogByte(prefix, acc_[0]);
    }
}

WinKeyer::Parse WinKeyer::Interpret() {
    const uint8_t cmd = acc_[0];
    if (cmd >= 0x20) {
        Text(cmd);
        return Parse::kDone;
    }
    // Total length of each command by its first byte; admin and pointer commands decide
    // their length from their second byte.
    static constexpr uint8_t kLength[0x20] = {
        0, 2, 2, 2, 3, 4, 2, 1, 1, 2, 1, 2, 2, 2, 2, 16,  // 0x00..0x0F
        2, 2, 2, 1, 2, 1, 0, 2, 2, 2, 2, 1, 2, 2, 1, 1,   // 0x10..0x1F
    };
    if (cmd == 0x00) {
        return Admin();
    }
    if (cmd == 0x16) {
        return Pointer();
    }
    if (count_ < kLength[cmd]) {
        return Parse::kIncomplete;
    }
    const uint8_t p1 = acc_[1];
    switch (cmd) {
        case 0x02:
            SetSpeed(p1);
            break;
        case 0x03:
            SetWeight(p1);
            break;
        case 0x04:
            SetPttTimes(p1, acc_[2]);
            break;
        case 0x05:
            SetPotRange(p1, acc_[2]);
            break;
        case 0x07:
            Reply(PotByte(lastPotSpeed_));
            break;
        case 0x08:
            Backspace();
            break;
        case 0x09:
            SetPins(p1);
            break;
        case 0x0A:
            ClearBuffer();
            break;
        case 0x0B:
            Send(box::kKeyerControl, p1 != 0 ? box::kControlTuneOn : box::kControlTuneOff);
            break;
        case 0x0E:
            SetMode(p1);
            break;
        case 0x0F:
            LoadDefaults();
            break;
        case 0x15:
            ReplyStatus();
            break;
        case 0x18:
            switching_.SetKeyerPtt(p1 != 0);
            switching_.UpdatePtt();
            break;
        case kBufferedSpeed:
            if (buf_.insPtr < kSendBufferSize - 1) {
                Store(kBufferedSpeed, true);
                Store(p1, true);
            }
            if (buf_.state != kSendSending) {
                StartSending();
            }
            break;
        case kCancelSpeed:
            if (buf_.insPtr < kSendBufferSize) {
                Store(kCancelSpeed, true);
            }
            if (buf_.state != kSendSending) {
                StartSending();
            }
            break;
        case kBufferedNop:
            if (buf_.insPtr < kSendBufferSize) {
                Store(kBufferedNop, false);
            }
            break;
        default:  // 0x01, 0x06, 0x0C, 0x0D, 0x10..0x14, 0x17, 0x19..0x1B, 0x1D: no effect
            break;
    }
    return Parse::kDone;
}

uint8_t WinKeyer::PotByte(int speed) const {
    // Before any pot report the last pot speed is 0, which reads as the minimum.
    return static_cast<uint8_t>(kPotByte | std::clamp(speed - potMin_, 0, kPotSteps));
}

int WinKeyer::FirstUnhanded() const {
    switch (buf_.state) {
        case kSendIdle:
            return 0;
        case kSendSending:
            return buf_.loadPtr + 1;
        default:  // draining: the walk stopped at the end, or on trailing nulls
            return buf_.loadPtr;
    }
}

void WinKeyer::Backspace() {
    const int pos = buf_.insPtr - 1;
    // What the box already holds is keyed whatever the host does now.
    if (pos < FirstUnhanded()) {
        return;
    }
    buf_.insPtr = pos;
    if (buf_.end == pos + 1) {
        buf_.end = pos;
        buf_.data[static_cast<size_t>(pos)] = 0;
    }
}

void WinKeyer::Store(uint8_t byte, bool raiseEnd) {
    buf_.data[static_cast<size_t>(buf_.insPtr)] = byte;
    ++buf_.insPtr;
    if (raiseEnd && buf_.end < buf_.insPtr) {
        buf_.end = buf_.insPtr;
    }
}

WinKeyer::Parse WinKeyer::Admin() {
    if (count_ < 2) {
        return Parse::kIncomplete;
    }
    const uint8_t sub = acc_[1];
    if ((sub == 0x00 || sub == 0x04) && count_ < 3) {
        return Parse::kIncomplete;
    }
    switch (sub) {
        case 0x00:
            break;
        case 0x01:
            AdminReset();
            break;
        case 0x02:
            HostOpenCommand();
            break;
        case 0x03:
            HostCloseCommand();
            break;
        case 0x04:
            Reply(acc_[2]);
            break;
        case 0x05:
        case 0x06:
        case 0x09:
            Reply(0x00);
            break;
        case 0x07:
        case 0x08:
        case 0x13:
            break;
        default:
            return Parse::kBad;
    }
    return Parse::kDone;
}

WinKeyer::Parse WinKeyer::Pointer() {
    if (count_ < 2) {
        return Parse::kIncomplete;
    }
    const uint8_t sub = acc_[1];
    const bool verbose = VerboseKeyer();
    if (sub == 0x00) {
        if (buf_.state == kSendIdle) {
            // The host resets the buffer while idle before each message: it wants each echo
            // as soon as the box starts the character.
            if (verbose) {
                log_.LogMessage("* KE Early echo condition seen");
            }
            lateEcho_ = false;
        }
        buf_.insPtr = 0;
        buf_.end = 0;
        buf_.data.fill(0);
        if (verbose) {
            log_.LogMessage("* KE buffer clear");
        }
        return Parse::kDone;
    }
    if (count_ < 3) {
        return Parse::kIncomplete;
    }
    const int p2 = acc_[2];
    switch (sub) {
        case 0x01:
            buf_.overwriteMode = true;
            if (verbose) {
                log_.LogQuoted("* KE buffer overwrite", SendBuffer::Text(buf_.data));
                log_.LogByte("* KE insPtr", Low8(buf_.insPtr));
            }
            if (p2 < kSendBufferSize - 1) {
                buf_.insPtr = p2 == 0 ? 0 : p2 - 1;
            }
            editor_.StartEdit();
            break;
        case 0x02:
            buf_.overwriteMode = false;
            if (verbose) {
                log_.LogQuoted("* KE buffer append", SendBuffer::Text(buf_.data));
                log_.LogByte("* KE insPtr", Low8(buf_.insPtr));
            }
            if (p2 < kSendBufferSize) {
                buf_.insPtr = p2;
            }
            if (buf_.editActive) {
                editor_.Reconcile();
            }
            break;
        case 0x03:
            editor_.NullsOverLoaded(p2);
            for (int n = 0; n < p2; ++n) {
                if (buf_.insPtr < kSendBufferSize) {
                    Store(0x00, false);
                }
            }
            if (buf_.end < buf_.insPtr) {
                buf_.end = buf_.insPtr;
            }
            if (verbose) {
                log_.LogByte("* KE insPtr (after)", Low8(buf_.insPtr));
                log_.LogQuoted("* KE buffer null (after)", SendBuffer::Text(buf_.data));
            }
            break;
        default:
            return Parse::kBad;
    }
    return Parse::kDone;
}

// ---------------------------------------------------------------------------------------
// Commands

void WinKeyer::SetSpeed(uint8_t speed) {
    if (speed == 0) {
        // Speed back to the pot; the box's answer to the query tells the host where it is.
        if (Connected()) {
            if (!potFlag_) {
                Send(box::kKeyerControl, box::kControlSpeedFromPot);
            }
            Send(box::kKeyerSpeedDelta, 0);
            pendingDelta_ = 0;
            Send(box::kQuery, box::kKeyerPotSpeed);
        }
        potFlag_ = true;
        settings_.WriteBool("Keyer", "KEPot", true);
        return;
    }
    if (potFlag_) {
        if (Connected()) {
            Send(box::kKeyerControl, box::kControlSpeedFromHost);
        }
        potFlag_ = false;
        settings_.WriteBool("Keyer", "KEPot", false);
    }
    if (speed >= 2 && speed <= 99) {
        hostSpeed_ = speed;
        speedHeld_ = true;
        if (Connected()) {
            Send(box::kKeyerSpeed, speed);
            Send(box::kKeyerSpeedDelta, 0);
            pendingDelta_ = 0;
        }
    }
}

void WinKeyer::SetWeight(uint8_t percent) {
    hostWeight_ = percent * 256 / 100;
    weightHeld_ = true;
    if (Controlled()) {
        Send(box::kKeyerWeight, Low8(hostWeight_));
        Send(box::kKeyerSpeedDelta, 0);
        pendingDelta_ = 0;
    }
}

void WinKeyer::SetPttTimes(uint8_t lead, uint8_t tail) {
    lead_ = std::min(lead * 10, 255);
    tail_ = std::min(tail * 10, 255);
    pttHeld_ = true;
    if (Controlled()) {
        Send(box::kPttPreSend, lead_);
        Send(box::kPttPostSend, tail_);
    }
}

void WinKeyer::SetPotRange(uint8_t minimum, uint8_t range) {
    potMin_ = minimum;
    potMax_ = minimum + range;
    potRangeHeld_ = true;
    if (Controlled()) {
        Send(box::kKeyerPotMin, potMin_);
        Send(box::kKeyerPotMax, Low8(potMax_));
    }
}

void WinKeyer::SetMode(uint8_t mode) {
    mode_ = mode;
    settings_.WriteInt("Keyer", "KEMode", mode);
    modeHeld_ = true;
    ApplyKeyerConfig();
}

void WinKeyer::SetPins(uint8_t pins) {
    pins_ = pins >> 6;
    settings_.WriteInt("Keyer", "KEPins", pins_);
    pinsHeld_ = true;
    ApplyKeyerConfig();
}

void WinKeyer::LoadDefaults() {
    const auto p = [this](int n) { return acc_[static_cast<size_t>(n)]; };
    pttHeld_ = true;
    SetMode(p(1));
    const uint8_t speed = p(2);
    if (speed >= 2 && speed <= 99) {
        hostSpeed_ = speed;
        speedHeld_ = true;
        if (Connected()) {
            Send(box::kKeyerSpeed, speed);
            Send(box::kKeyerSpeedDelta, 0);
            pendingDelta_ = 0;
        }
    }
    SetWeight(p(4));
    lead_ = std::min(p(5) * 10, 255);
    if (Controlled()) {
        Send(box::kPttPreSend, lead_);
    }
    tail_ = std::min(p(6) * 10, 255);
    if (Controlled()) {
        Send(box::kPttPostSend, tail_);
    }
    potMin_ = p(7);
    potMax_ = p(7) + p(8);
    if (Controlled()) {
        Send(box::kKeyerPotMin, potMin_);
        Send(box::kKeyerPotMax, Low8(potMax_));
    }
    potRangeHeld_ = true;
    SetPins(p(14));
}

void WinKeyer::ClearBuffer() {
    ForgetHandedCharacters();
    StopAndReset();
    heldEcho_ = 0;
    state_.tune = false;
    switching_.EndHeadphoneLatch(kLatchKeyer);
    SendStatusIfChanged(kStatusIdle);
    Send(box::kKeyerAbort, 0);
}

void WinKeyer::HostOpenCommand() {
    hostOpen_ = true;
    Reply(kHostOpenReply);
    if (Connected()) {
        Send(box::kKeyerControl, box::kControlSpeedFromHost);
    }
    potFlag_ = false;
    settings_.WriteBool("Keyer", "KEPot", false);
}

void WinKeyer::HostCloseCommand() {
    hostOpen_ = false;
    if (Connected()) {
        Send(box::kKeyerControl, box::kControlSpeedFromPot);
        if (potRangeHeld_ && options_.LoggerControlsKeyer()) {
            Send(box::kKeyerPotMin, 0);
            Send(box::kQuery, box::kKeyerPotMax);
        }
    }
    potFlag_ = true;
    settings_.WriteBool("Keyer", "KEPot", true);
}

void WinKeyer::AdminReset() {
    ForgetHandedCharacters();
    StopAndReset();
    heldEcho_ = 0;
    hostOpen_ = false;
    buf_.overwriteMode = false;
    potMin_ = 10;
    potMax_ = 73;
    mode_ = 0;
    pins_ = 0;
    echoEnabled_ = false;
    switching_.EndHeadphoneLatch(kLatchKeyer);
}

void WinKeyer::ReplyStatus() {
    uint8_t status = state_.tune ? kStatusKeyDown : kStatusIdle;
    if (buf_.state != kSendIdle) {
        status |= kBusyBit;
    }
    if (buf_.insPtr > kStatusFullMark) {
        status |= 0x01;
    }
    Reply(status);
}

void WinKeyer::Text(uint8_t raw) {
    if (buf_.insPtr >= kSendBufferSize) {
        SendStatusIfChanged(kStatusBreakIn);
        switching_.EndHeadphoneLatch(kLatchPtt | kLatchKeyer);
        log_.LogMessage("Keyer buffer overflow");
        ForgetHandedCharacters();
        StopAndReset();
        heldEcho_ = 0;
        buf_.editActive = true;
        SendStatusIfChanged(kStatusIdle);
        return;
    }
    const uint8_t byte = Translate(raw);
    if (editor_.TypingOverApplies()) {
        editor_.TypeOverLoaded(byte, raw);
    }
    Store(byte, true);
    if (VerboseKeyer()) {
        log_.LogByte("* KE Adding character", byte);
        log_.LogByte("* KE insPtr", Low8(buf_.insPtr));
        log_.LogByte("* KE state", buf_.state);
    }
    if (buf_.state != kSendSending) {
        StartSending();
    }
}

// ---------------------------------------------------------------------------------------
// Host session and configuration

void WinKeyer::ImplicitHostOpen() {
    if (hostOpen_) {
        return;
    }
    hostOpen_ = true;
    Send(box::kKeyerControl, potFlag_ ? box::kControlSpeedFromPot : box::kControlSpeedFromHost);
    if (!speedHeld_) {
        hostSpeed_ = state_.keyerSpeed;
        speedHeld_ = true;
    }
    lateEcho_ = true;
    heldEcho_ = 0;
    ApplyKeyerConfig();
}

void WinKeyer::OnKeyerPortOpened() {
    ForgetHandedCharacters();
    StopAndReset();
    hostOpen_ = false;
    buf_.overwriteMode = false;
    potMin_ = 10;
    potMax_ = 73;
    mode_ = 0;
    pins_ = 0;
    echoEnabled_ = false;
    lateEcho_ = true;
    heldEcho_ = 0;
    potFlag_ = settings_.ReadBool("Keyer", "KEPot", true);
}

void WinKeyer::ApplyKeyerConfig() {
    if (!modeHeld_) {
        const int v = settings_.ReadInt("Keyer", "KEMode", kNoSetting);
        if (v == kNoSetting) {
            mode_ = 0;
        } else {
            mode_ = Low8(v);
            modeHeld_ = true;
        }
    }
    if (!pinsHeld_) {
        const int v = settings_.ReadInt("Keyer", "KEPins", kNoSetting);
        if (v == kNoSetting) {
            pins_ = 0;
        } else {
            pins_ = Low8(v);
            pinsHeld_ = true;
        }
    }
    echoEnabled_ = (mode_ & 0x04) != 0;
    if (!Controlled() || !(modeHeld_ || pinsHeld_)) {
        return;
    }
    const uint8_t c = state_.keyerConfig;
    const uint8_t m = mode_;
    uint8_t config = c & 0xC0;
    if (m & 0x10) {
        config |= 0x20;
    }
    if (!(m & 0x01)) {
        config |= 0x10;
    }
    config |= m & 0x08;
    if (m & 0x20) {
        if (pins_ & 0x02) {
            config |= 2;
        } else if (pins_ & 0x01) {
            config |= 3;
        } else {
            config |= 1;
        }
    }
    Send(box::kKeyerConfig, config);
    const uint8_t config2 = static_cast<uint8_t>((state_.keyerConfig2 & 0xFE) | ((m >> 1) & 1));
    Send(box::kKeyerConfig2, config2);
}

void WinKeyer::ResendKeyerSettings() {
    Send(box::kKeyerControl,
         hostOpen_ && !potFlag_ ? box::kControlSpeedFromHost : box::kControlSpeedFromPot);
    if (potRangeHeld_) {
        Send(box::kKeyerPotMin, potMin_);
        Send(box::kKeyerPotMax, Low8(potMax_));
    }
    if (speedHeld_) {
        Send(box::kKeyerSpeed, hostSpeed_);
    }
    if (options_.LoggerControlsKeyer()) {
        if (weightHeld_) {
            Send(box::kKeyerWeight, Low8(hostWeight_));
        }
        if (pttHeld_) {
            Send(box::kPttPreSend, lead_);
            Send(box::kPttPostSend, tail_);
        }
    }
}

// ---------------------------------------------------------------------------------------
// Loading and sending

void WinKeyer::SendStatusIfChanged(uint8_t status) {
    if (!port_.IsKeyerPortRunning() || !hostOpen_ || status == lastStatus_) {
        return;
    }
    Reply(status);
    lastStatus_ = status;
}

void WinKeyer::StopAndReset() {
    buf_.state = kSendIdle;
    buf_.ResetPointers();
    pendingDelta_ = 0;
    buf_.altValid = false;
    buf_.editActive = false;
}

void WinKeyer::ForgetHandedCharacters() {
    staleReports_ = std::min(staleReports_ + unreported_, kMaxUnreported);
    unreported_ = 0;
}

void WinKeyer::StartSending() {
    if (!port_.IsKeyerPortRunning()) {
        return;
    }
    // While the host is overwriting text, an idle keyer waits for it to return to appending.
    if (buf_.overwriteMode && buf_.state == kSendIdle) {
        return;
    }
    buf_.state = kSendLoading;
    const int pos = LoadNextCharacter(buf_.loadPtr);
    buf_.loadPtr = pos;
    buf_.sendPtr = pos;
}

int WinKeyer::LoadNextCharacter(int start) {
    const bool verbose = VerboseKeyer();
    start = std::clamp(start, 0, kSendBufferSize);
    if (verbose) {
        log_.LogByte("* KE LoadChar, ptr(in)", Low8(start));
    }
    const int end = std::min(buf_.end, kSendBufferSize);
    int i = start;
    bool found = false;
    bool character = false;
    while (i < end) {
        const uint8_t b = buf_.At(i);
        if (b == 0x00 || b == kBufferedNop) {
            ++i;
        } else if (b == kBufferedSpeed) {
            found = true;
            pendingDelta_ = static_cast<int8_t>(buf_.At(i + 1)) - hostSpeed_;
            i = std::min(i + 2, kSendBufferSize);
            if (pendingDelta_ == 0) {
                Send(box::kKeyerSpeedDelta, 0);
            }
        } else if (b == kCancelSpeed) {
            found = true;
            ++i;
            pendingDelta_ = 0;
            Send(box::kKeyerSpeedDelta, 0);
        } else {
            found = true;
            character = true;
            break;
        }
    }
    if (!character) {
        int result;
        if (buf_.state == kSendLoading && start == 0) {
            // The buffer held nothing at all.
            buf_.end = 0;
            buf_.insPtr = 0;
            buf_.sendPtr = 0;
            buf_.editActive = false;
            switching_.EndHeadphoneLatch(kLatchKeyer);
            SendStatusIfChanged(kStatusIdle);
            buf_.state = kSendIdle;
            result = 0;
        } else {
            buf_.state = kSendDraining;
            // Stay on a run of trailing nulls so that text stored into it is still sent.
            result = found ? i : start;
        }
        if (verbose) {
            log_.LogByte("* KE LoadChar, end ptr(out)", Low8(result));
        }
        return result;
    }
    const uint8_t b = buf_.At(i);
    buf_.state = kSendSending;
    SendStatusIfChanged(kStatusBusy);
    if (verbose) {
        log_.LogByte("* KE loading character", b);
        log_.LogByte("* KE LoadChar, ptr(out)", Low8(i));
    }
    if (pendingDelta_ != 0) {
        Send(box::kKeyerSpeedDelta, Low8(pendingDelta_));
    }
    switching_.BeginHeadphoneLatch(kLatchKeyer);
    if (box_.SendBoxCommand(box::kKeyerChar, b)) {
        lastHanded_ = b;
        unreported_ = std::min(unreported_ + 1, kMaxUnreported);
    }
    return i;
}

// ---------------------------------------------------------------------------------------
// Box reports

bool WinKeyer::IsStaleReport(uint8_t character) {
    if (buf_.state == kSendIdle) {
        // Nothing of this buffer is with the box: the character is from before a clear, a
        // reset or an overflow.
        staleReports_ = std::max(staleReports_ - 1, 0);
        return true;
    }
    if (staleReports_ > 0 && character != lastHanded_ && character != buf_.At(buf_.loadPtr) &&
        !(buf_.altValid && character == buf_.altChar)) {
        --staleReports_;
        return true;
    }
    // The box reports in order: nothing older can follow a report about this buffer.
    staleReports_ = 0;
    unreported_ = std::max(unreported_ - 1, 0);
    return false;
}

void WinKeyer::OnBoxSendingChar(uint8_t character) {
    if (IsStaleReport(character)) {
        return;
    }
    editor_.AlternateCheck(character);
    if (buf_.state == kSendSending && echoEnabled_ && buf_.At(buf_.sendPtr) != 0 &&
        character != '#') {
        if (lateEcho_) {
            heldEcho_ = character;
        } else {
            Reply(character);
        }
    }
    buf_.sendPtr = buf_.loadPtr;
    buf_.loadPtr = LoadNextCharacter(buf_.loadPtr + 1);
}

void WinKeyer::OnBoxKeyerEvent(uint8_t type) {
    if (!port_.IsKeyerPortRunning() || !hostOpen_) {
        return;
    }
    switch (type) {
        case box::kEventEndOfCharacter:
            if (heldEcho_ != 0) {
                Reply(heldEcho_);
                heldEcho_ = 0;
            }
            break;
        case box::kEventIdle:
            if (buf_.state == kSendDraining) {
                // Everything handed over has been keyed.
                staleReports_ = unreported_ = 0;
                switching_.EndHeadphoneLatch(kLatchKeyer);
                StopAndReset();
                SendStatusIfChanged(kStatusIdle);
            } else if (breakInPending_) {
                breakInPending_ = false;
                // The paddle is done, but text typed since then may be on its way.
                if (buf_.state == kSendIdle) {
                    SendStatusIfChanged(kStatusIdle);
                }
            }
            break;
        case box::kEventClear:
            // The box dropped the character it held (Keyer Overwrite 0): it is never reported.
            unreported_ = std::max(unreported_ - 1, 0);
            buf_.loadPtr = LoadNextCharacter(buf_.loadPtr);
            break;
        case box::kEventPaddlePressed:
            BreakInReset();
            break;
        default:
            break;
    }
}

void WinKeyer::BreakInReset() {
    switching_.EndHeadphoneLatch(kLatchPtt | kLatchKeyer);
    SendStatusIfChanged(kStatusBreakInBusy);
    buf_.state = kSendIdle;
    breakInPending_ = true;
    StopAndReset();
    heldEcho_ = 0;
    // The box dropped everything and said so after every report about it.
    staleReports_ = unreported_ = 0;
    SendStatusIfChanged(kStatusBreakIn);
}

void WinKeyer::OnBoxKeyerAbort(uint8_t value) {
    // The box has emptied its buffer; reports about what it held came before this one.
    staleReports_ = 0;
    if (value & 0x06) {
        BreakInReset();
    }
    if (value & 0x04) {
        switching_.EndHeadphoneLatch(kLatchPtt | kLatchKeyer);
        SendStatusIfChanged(kStatusIdle);
    }
}

void WinKeyer::OnBoxKeyerControl() {
    // The box only says whether it tunes; text still being sent keeps the host busy.
    uint8_t status = state_.tune ? kStatusKeyDown : kStatusIdle;
    if (buf_.state != kSendIdle) {
        status |= kBusyBit;
    }
    SendStatusIfChanged(status);
}

bool WinKeyer::OnBoxPotSpeed(uint8_t speed) {
    if (port_.IsKeyerPortRunning() && hostOpen_) {
        if (speed >= potMin_ && speed <= potMax_) {
            lastPotSpeed_ = speed;
            Reply(PotByte(speed));
        }
        return true;
    }
    return (state_.keyerControl & box::kControlBitPot) != 0;
}

}  // namespace zuvo
