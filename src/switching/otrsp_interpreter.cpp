#include "switching/otrsp_interpreter.h"

#include <climits>
#include <cstdio>

#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo {

namespace {

constexpr std::array<const char*, OtrspInterpreter::kNotFound> kCommandNames = {
    "RX",    "TX",    "AUX1", "AUX2",   "AUX3",         "AUX4",   "BAND1",  "BAND2",
    "MODE1", "MODE2", "CR0",  "MAP1",   "MAP2",         "NAME",   "X",      "ERX",
    "ETX",   "EAB",   "ECR0", "VLATCH", "VSPLITSTEREO", "VPHONE", "VBLEND", "VBVAL"};

constexpr std::array<const char*, 6> kRxReports = {"RX1\r", "RX1S\r", "RX1R\r",
                                                   "RX2\r", "RX2S\r", "RX2R\r"};
constexpr std::array<const char*, 2> kTxReports = {"TX1\r", "TX2\r"};

constexpr uint8_t kTx2 = box::kStateTxRadio2;
constexpr uint8_t kRx2 = box::kStateRxRadio2;
constexpr uint8_t kStereo = box::kStateStereo;
constexpr uint8_t kPtt = box::kStatePtt;
constexpr uint8_t kReverse = box::kStateReverse;

// L[n] of a line; positions past its end read as the terminator, never as an earlier
// line's leftovers.
char At(const std::string& line, size_t n) {
    return n < line.size() ? line[n] : '\0';
}

int NumberAt(const std::string& line, size_t n) {
    return n < line.size() ? OtrspNumber(std::string_view(line).substr(n)) : 0;
}

uint8_t SetBit(uint8_t value, uint8_t bit, bool on) {
    return static_cast<uint8_t>(on ? (value | bit) : (value & ~bit));
}

bool Deferrable(int index) {
    switch (index) {
        case OtrspInterpreter::kBand1:
        case OtrspInterpreter::kBand2:
        case OtrspInterpreter::kMode1:
        case OtrspInterpreter::kMode2:
        case OtrspInterpreter::kErx:
        case OtrspInterpreter::kEtx:
        case OtrspInterpreter::kEab:
        case OtrspInterpreter::kEcr0:
        case OtrspInterpreter::kVLatch:
        case OtrspInterpreter::kVSplitStereo:
            return true;
        default:
            return false;
    }
}

std::string Format(const char* format, unsigned value) {
    char text[32];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

}  // namespace

int OtrspNumber(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= static_cast<long long>(INT_MAX) + 1) {
            value = value * 10 + (text[i] - '0');
        }
    }
    if (negative) {
        value = -value;
    }
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

OtrspInterpreter::OtrspInterpreter(Deps deps) : deps_(deps) {}

int OtrspInterpreter::FindCommand(std::string_view text) {
    for (size_t i = 0; i < kCommandNames.size(); ++i) {
        if (text.starts_with(kCommandNames[i])) {
            return static_cast<int>(i);
        }
    }
    return kNotFound;
}

void OtrspInterpreter::LoadOptions() {
    latchHeadphones_ = deps_.settings.ReadBool("Zuvo", "LatchHeadphones", false);
    splitStereo_ = deps_.settings.ReadBool("Zuvo", "SplitStereo", false);
}

void OtrspInterpreter::ResetRequested() {
    requested_ = 0;
    aux_ = {};
    map_ = {};
    latch_ = 0;
    stereoRequested_ = false;
}

// --- characters and lines ----------------------------------------------------------------

void OtrspInterpreter::OnSwitchingPortByte(uint32_t error, int32_t value) {
    if (error != 0) {
        if (error == platform::kErrorBrokenPipe && !deps_.verbose.IsVerbose(Verbose::kZuvo)) {
            return;
        }
        platform::SetLastError(error);
        deps_.log.LogLastError("SE Read Thread: ");
        return;
    }
    if (value == 0xFFFF) {
        return;
    }
    const char c = static_cast<char>(value & 0xFF);
    if (c != '\r' && c != '\n') {
        if (length_ < kLineMax) {
            buffer_[length_++] = c;
        }
        return;
    }
    // Loggers end lines with CR, LF or CR LF; the empty line between CR and LF is nothing.
    if (length_ == 0) {
        return;
    }
    buffer_[length_] = '\0';
    RunLine();
    length_ = 0;
}

void OtrspInterpreter::RunLine() {
    // The line is a C string: a NUL received inside it ends it.
    const std::string line(buffer_.data());
    if (deps_.verbose.IsVerbose(Verbose::kZuvo)) {
        deps_.log.LogMessage("* Got SE command " + line);
    }
    if (!line.empty() && line[0] == '?') {
        const int index = FindCommand(std::string_view(line).substr(1));
        if (pending_ != 0) {
            queue_.push_back(Entry{index, true, sent_, line});
        } else {
            RunQuery(index, line);
        }
        return;
    }
    const int index = FindCommand(line);
    if (index == kNotFound) {
        return;
    }
    if (Deferrable(index) && pending_ != 0) {
        queue_.push_back(Entry{index, false, sent_, line});
        return;
    }
    RunCommand(index, line);
}

// --- commands -----------------------------------------------------------------------------

bool OtrspInterpreter::Guarded() const {
    return !deps_.sender.IsConnectedFlag() || resyncPending_;
}

bool OtrspInterpreter::SendCounted(int code, int value) {
    // A command that was not written gets no reply: counting it would hold every later
    // query in the queue for good.
    if (!deps_.sender.SendBoxCommand(code, value)) {
        return false;
    }
    CountBoxCommand();
    return true;
}

void OtrspInterpreter::GuardedSend(int code, int value) {
    if (!Guarded()) {
        SendCounted(code, value);
    }
}

void OtrspInterpreter::RunCommand(int index, const std::string& line) {
    switch (index) {
        case kRx: {
            if (Guarded()) {
                return;
            }
            requested_ = SetBit(requested_, kRx2, At(line, 2) == '2');
            requested_ = SetBit(requested_, kReverse, At(line, 3) == 'R');
            if (At(line, 3) == 'S') {
                requested_ |= kStereo;
                stereoRequested_ = true;
            } else {
                stereoRequested_ = false;
                const bool split = splitStereo_ && (requested_ & kReverse) == 0 &&
                                   ((requested_ & kTx2) != 0) != ((requested_ & kRx2) != 0);
                requested_ = SetBit(requested_, kStereo, split);
            }
            if (latch_ == 0) {
                SendCounted(box::kZuvoState, requested_);
            }
            return;
        }
        case kTx:
            if (Guarded()) {
                return;
            }
            requested_ = SetBit(requested_, kTx2, At(line, 2) == '2');
            TxSteps();
            return;
        case kAux1:
        case kAux2:
        case kAux3:
        case kAux4: {
            const size_t n = static_cast<size_t>(index - kAux1);
            const int value = NumberAt(line, 4);
            aux_[n] = static_cast<uint8_t>((aux_[n] & ~0x0F) | (value & 0x0F) | 0x10);
            GuardedSend(box::kAux1 + static_cast<int>(n), aux_[n]);
            return;
        }
        case kBand1:
        case kBand2:
            band_[static_cast<size_t>(index - kBand1)] = line.size() > 5 ? line.substr(5) : "";
            return;
        case kMode1:
        case kMode2:
            mode_[static_cast<size_t>(index - kMode1)] = line.size() > 5 ? line.substr(5) : "";
            return;
        case kCr0:
        case kName:
            return;
        case kMap1:
        case kMap2: {
            const size_t n = static_cast<size_t>(index - kMap1);
            const int value = NumberAt(line, 4);
            map_[n] = static_cast<uint8_t>((map_[n] & ~0x0F) | ((value - 1) & 3) | 0x20);
            GuardedSend(n == 0 ? box::kZuvoMap1 : box::kZuvoMap2, map_[n]);
            return;
        }
        case kX:
            if (deps_.port.PipeMode()) {
                portPtt_ = At(line, 1) == '1';
                UpdatePtt();
            }
            return;
        case kErx:
            erx_ = At(line, 3) == '1';
            if (erx_) {
                lastRx_ = CurrentRxIndex();
                WriteRxReport(lastRx_, true);
            }
            return;
        case kEtx:
            etx_ = At(line, 3) == '1';
            if (etx_) {
                lastTx_ = CurrentTxIndex();
                WriteTxReport(lastTx_, true);
            }
            return;
        case kEab:
            eab_ = At(line, 3) == '1';
            return;
        case kEcr0:
            ecr0_ = At(line, 4) == '1';
            if (ecr0_) {
                const int bit = (deps_.state.switchingSwitches & box::kSwitchPttInput) != 0;
                Write(bit ? "$CR01\r" : "$CR00\r");
                lastCr0_ = bit;
            }
            return;
        case kVLatch:
            SetOption(latchHeadphones_, At(line, 6) == '1', "LatchHeadphones");
            return;
        case kVSplitStereo:
            SetOption(splitStereo_, At(line, 12) == '1', "SplitStereo");
            return;
        case kVPhone: {
            const int value = NumberAt(line, 6);
            if (value < 0 || value > 2) {
                return;
            }
            config_ = static_cast<uint8_t>((config_ & ~0x07) | value);
            GuardedSend(box::kZuvoConfig, config_);
            return;
        }
        case kVBlend:
            config_ = SetBit(config_, 0x08, At(line, 6) == '1');
            GuardedSend(box::kZuvoConfig, config_);
            return;
        case kVBval:
            blend_ = static_cast<uint8_t>(NumberAt(line, 5));
            GuardedSend(box::kZuvoBlend, blend_);
            return;
        default:
            return;
    }
}

void OtrspInterpreter::TxSteps() {
    uint8_t value = 0;
    const bool differ = ((requested_ & kTx2) != 0) != ((requested_ & kRx2) != 0);
    if (latch_ == 0) {
        if (splitStereo_ && !stereoRequested_ && (requested_ & kReverse) == 0) {
            requested_ = SetBit(requested_, kStereo, differ);
        }
        value = requested_;
    } else {
        const uint8_t s = requested_;
        uint8_t stereo = 0;
        if (splitStereo_ && (s & kReverse) == 0 && differ) {
            requested_ |= kStereo;
            stereo = s & kStereo;
        }
        value = static_cast<uint8_t>(s & ~(kRx2 | kReverse | kStereo));
        if ((s & kTx2) == 0) {
            value |= kRx2;
        }
        value |= stereo;
    }
    const bool written = deps_.sender.SendBoxCommand(box::kZuvoState, value);
    deps_.rtty.SendRttySpeedBits();
    if (written) {
        CountBoxCommand();
    }
}

void OtrspInterpreter::SetOption(bool& option, bool value, const char* key) {
    if (value == option) {
        return;
    }
    option = value;
    deps_.settings.WriteBool("Zuvo", key, value);
    if (&option == &latchHeadphones_) {
        deps_.window.SetLatchCheck(value);
    } else {
        deps_.window.SetSplitStereoCheck(value);
    }
}

// --- queries ------------------------------------------------------------------------------

void OtrspInterpreter::WriteReport(const char* report, bool change) {
    if (change) {
        // "$", then the report: one line to the logger.
        deps_.port.WriteSwitchingLine({"$", report});
    } else {
        Write(report);
    }
}

void OtrspInterpreter::WriteRxReport(int rxIndex, bool change) {
    WriteReport(kRxReports[static_cast<size_t>(rxIndex) % kRxReports.size()], change);
}

void OtrspInterpreter::WriteTxReport(int txIndex, bool change) {
    WriteReport(kTxReports[static_cast<size_t>(txIndex) & 1], change);
}

void OtrspInterpreter::RunQuery(int index, const std::string& line) {
    const BoxState& s = deps_.state;
    switch (index) {
        case kRx:
            WriteRxReport(CurrentRxIndex());
            return;
        case kTx:
            WriteTxReport(CurrentTxIndex());
            return;
        case kAux1:
        case kAux2:
        case kAux3:
        case kAux4: {
            const size_t n = static_cast<size_t>(index - kAux1);
            const std::string format = "AUX" + std::to_string(n + 1) + "%u\r";
            Write(Format(format.c_str(), s.aux[n] & 0x0F));
            return;
        }
        case kBand1:
            Write("BAND1" + band_[0] + "\r");
            return;
        case kBand2:
            Write("BAND2" + band_[1] + "\r");
            return;
        case kMode1:
            Write("MODE1" + mode_[0] + "\r");
            return;
        case kMode2:
            Write("MODE2" + mode_[1] + "\r");
            return;
        case kCr0:
            Write(Format("CR0%u\r", (s.switchingSwitches & box::kSwitchPttInput) ? 1 : 0));
            return;
        case kMap1:
            Write(Format("MAP1%u\r", (s.map[0] & 0x0F) + 1u));
            return;
        case kMap2:
            Write(Format("MAP2%u\r", (s.map[1] & 0x0F) + 1u));
            return;
        case kName:
            Write("NAMEQarn Zuvo Box (plus)\r");
            return;
        case kX:
            if (!deps_.port.PipeMode()) {
                Write("?X\r");
            } else {
                Write(portPtt_ ? "X1\r" : "X0\r");
            }
            return;
        case kErx:
            Write(Format("ERX%u\r", erx_));
            return;
        case kEtx:
            Write(Format("ETX%u\r", etx_));
            return;
        case kEab:
            Write(Format("EAB%u\r", eab_));
            return;
        case kEcr0:
            Write(Format("ECR0%u\r", ecr0_));
            return;
        case kVLatch:
            Write(Format("VLATCH%u\r", latchHeadphones_));
            return;
        case kVSplitStereo:
            Write(Format("VSPLITSTEREO%u\r", splitStereo_));
            return;
        case kVPhone:
            Write(Format("VPHONE%u\r", config_ & 7u));
            return;
        case kVBlend:
            Write(Format("VBLEND%u\r", (config_ >> 3) & 1u));
            return;
        case kVBval:
            Write(Format("VBVAL%u\r", blend_));
            return;
        default:
            Write(line);
            Write("\r");
            return;
    }
}

int OtrspInterpreter::CurrentRxIndex() const {
    const uint8_t w = deps_.state.switchingSwitches;
    const uint8_t s = deps_.state.switchingState;
    if (w & box::kSwitchRx1) {
        return 0;
    }
    if (w & box::kSwitchRx2) {
        return 3;
    }
    if (s & kRx2) {
        return (s & kReverse) ? 5 : (s & kStereo) ? 4 : 3;
    }
    return (s & kReverse) ? 5 : (s & kStereo) ? 1 : 0;
}

int OtrspInterpreter::CurrentTxIndex() const {
    const uint8_t w = deps_.state.switchingSwitches;
    if (w & box::kSwitchTx1) {
        return 0;
    }
    if (w & box::kSwitchTx2) {
        return 1;
    }
    return deps_.state.switchingState & kTx2;
}

uint8_t OtrspInterpreter::RequestedMap(int n) const {
    return (n == 1 || n == 2) ? map_[static_cast<size_t>(n - 1)] : 0;
}

// --- counters and the deferred queue ------------------------------------------------------

void OtrspInterpreter::CountBoxCommand() {
    ++pending_;
    ++sent_;
}

void OtrspInterpreter::CountBoxReply() {
    --pending_;
    ++received_;
}

void OtrspInterpreter::ProcessDeferredCommands() {
    while (!queue_.empty() && queue_.front().sentAt <= received_) {
        const Entry entry = std::move(queue_.front());
        queue_.pop_front();
        if (entry.query) {
            RunQuery(entry.index, entry.line);
        } else {
            RunCommand(entry.index, entry.line);
        }
    }
}

void OtrspInterpreter::ClearOnDisconnect() {
    pending_ = sent_ = received_ = 0;
    portPtt_ = keyerPtt_ = rttyPtt_ = false;
    queue_.clear();
}

void OtrspInterpreter::OnPortClosed() {
    erx_ = etx_ = eab_ = ecr0_ = false;
}

// --- box reports ---------------------------------------------------------------------------

void OtrspInterpreter::OnSwitchingStateReport() {
    if (!resyncPending_) {
        ReportSwitchingChanges();
        return;
    }
    for (size_t n = 0; n < 4; ++n) {
        if (aux_[n] != 0) {
            SendCounted(box::kAux1 + static_cast<int>(n), aux_[n]);
        }
    }
    if (map_[0] != 0) {
        SendCounted(box::kZuvoMap1, map_[0]);
    }
    if (map_[1] != 0) {
        SendCounted(box::kZuvoMap2, map_[1]);
    }
    config_ = deps_.state.switchingConfig;
    blend_ = static_cast<uint8_t>(deps_.window.BlendSelection());
    resyncPending_ = false;
    deps_.sender.SendBoxCommand(box::kQuery, box::kZuvoSwitches);
}

void OtrspInterpreter::ReportSwitchingChanges() {
    if (resyncPending_) {
        return;
    }
    const int rx = CurrentRxIndex();
    if (erx_ && rx != lastRx_) {
        lastRx_ = rx;
        WriteRxReport(rx, true);
    }
    const int tx = CurrentTxIndex();
    if (eab_ && tx != lastTx_ &&
        ((deps_.state.switchingState & kPtt) ||
         (deps_.state.switchingSwitches & box::kSwitchPttInput))) {
        Write("$AB\r");
    }
    if (etx_ && tx != lastTx_) {
        WriteTxReport(tx, true);
    }
    lastTx_ = tx;
    const int cr0 = (deps_.state.switchingSwitches & box::kSwitchPttInput) ? 1 : 0;
    if (ecr0_ && cr0 != lastCr0_) {
        Write(cr0 ? "$CR01\r" : "$CR00\r");
        lastCr0_ = cr0;
    }
}

// --- PTT and the headphone latch ----------------------------------------------------------

void OtrspInterpreter::UpdatePtt() {
    const bool ptt = portPtt_ || keyerPtt_ || rttyPtt_;
    requested_ = SetBit(requested_, kPtt, ptt);
    if (ptt) {
        BeginHeadphoneLatch(kLatchPtt);
    } else {
        EndHeadphoneLatch(kLatchPtt);
    }
    if (!latchHeadphones_) {
        SendCounted(box::kZuvoState, requested_);
    }
}

void OtrspInterpreter::BeginHeadphoneLatch(int reason) {
    if (!latchHeadphones_ || latch_ != 0) {
        return;
    }
    latch_ = reason;
    uint8_t value = requested_;
    value = SetBit(value, kRx2, (value & kTx2) == 0);
    value = SetBit(value, kStereo, splitStereo_);
    value = SetBit(value, kReverse, false);
    SendCounted(box::kZuvoState, value);
}

void OtrspInterpreter::EndHeadphoneLatch(int reasons) {
    if ((latch_ & reasons) == 0) {
        return;
    }
    SendCounted(box::kZuvoState, requested_);
    latch_ = 0;
}

void OtrspInterpreter::OnModemStatus(uint32_t mask) {
    if ((mask & kCommEventCts) == 0) {
        return;
    }
    if (deps_.port.PipeMode() && (mask & kCommEventClientLines) == 0) {
        // The pipe client is gone. Half a line it left behind would be glued to the next
        // client's first line and turn, say, "TX2" into an RX command.
        portPtt_ = false;
        length_ = 0;
    } else {
        uint32_t status = 0;
        if (!deps_.port.GetSwitchingModemStatus(status)) {
            return;
        }
        portPtt_ = (status & kModemCtsOn) != 0;
        if (deps_.verbose.IsVerbose(Verbose::kZuvo)) {
            deps_.log.LogByte("* Got SE PTT ", portPtt_ ? 1 : 0);
        }
    }
    UpdatePtt();
}

// --- main window controls ------------------------------------------------------------------

void OtrspInterpreter::SetHeadphoneMode(int index) {
    config_ = static_cast<uint8_t>((config_ & ~0x07) | (index & 0x07));
    SendCounted(box::kZuvoConfig, config_);
}

void OtrspInterpreter::SetBlendOn(bool on) {
    config_ = SetBit(config_, 0x08, on);
    SendCounted(box::kZuvoConfig, config_);
}

void OtrspInterpreter::SetMicRelays(bool on) {
    config_ = SetBit(config_, 0x10, on);
    SendCounted(box::kZuvoConfig, config_);
}

void OtrspInterpreter::SetBlendLevel(int index) {
    blend_ = static_cast<uint8_t>(index);
    SendCounted(box::kZuvoBlend, blend_);
}

void OtrspInterpreter::SetMapIndex(int n, int index) {
    if (n != 1 && n != 2) {
        return;
    }
    uint8_t& map = map_[static_cast<size_t>(n - 1)];
    map = static_cast<uint8_t>((map & ~0x0F) | (index & 0x0F) | 0x20);
    SendCounted(n == 1 ? box::kZuvoMap1 : box::kZuvoMap2, map);
}

void OtrspInterpreter::SetLatchHeadphones(bool on) {
    latchHeadphones_ = on;
    deps_.settings.WriteBool("Zuvo", "LatchHeadphones", on);
}

void OtrspInterpreter::SetSplitStereo(bool on) {
    splitStereo_ = on;
    deps_.settings.WriteBool("Zuvo", "SplitStereo", on);
}

}  // namespace zuvo
