#include "sim/sim_box.h"

#include <algorithm>
#include <cstdio>

#include "link/box_protocol.h"

namespace zuvo::sim {

namespace {

// What each code means to the firmware when the host sends it, and whether a Query of it is
// answered. Codes not marked kTakes are answered with Not Recognized.
enum CodeFlags : uint8_t {
    kTakes = 0x01,      // the host may send it
    kEchoes = 0x02,     // stored and answered with the value now in force
    kQueryable = 0x04,  // a Query of it is answered with the stored value
};

constexpr std::array<uint8_t, 128> MakeCodeTable() {
    std::array<uint8_t, 128> t{};
    const uint8_t both = kTakes | kEchoes | kQueryable;
    for (uint8_t c :
         {0x00, 0x01, 0x02, 0x0A, 0x0B, 0x0C, 0x0D, 0x10, 0x17, 0x1C, 0x1D, 0x32, 0x41}) {
        t[c] = kQueryable;  // reported by the box only
    }
    t[box::kQuery] = kTakes | kQueryable;
    t[box::kResetDefaults] = kTakes;
    t[box::kUpdateMode] = kTakes;
    for (uint8_t c : {0x11, 0x12, 0x15, 0x16, 0x18, 0x19, 0x1A, 0x1B, 0x1E, 0x1F, 0x20, 0x21, 0x22,
                      0x23, 0x30, 0x31, 0x33, 0x34, 0x35, 0x40, 0x50, 0x51, 0x52, 0x53, 0x54}) {
        t[c] = both;
    }
    // Taken and remembered, answered by their own rule (or not at all).
    for (uint8_t c : {0x13, 0x14, 0x42, 0x43}) {
        t[c] = kTakes | kQueryable;
    }
    return t;
}

constexpr std::array<uint8_t, 128> kCodeTable = MakeCodeTable();

uint8_t Flags(uint8_t code) {
    return code < 128 ? kCodeTable[code] : 0;
}

}  // namespace

SimBox::SimBox(const IClock& clock)
    : clock_(clock), updateModeHandler_([](SimBox& box) { box.Restart(); }) {
    settings_[box::kQuery] = 0x10;  // version 1.0-0
    settings_[box::kKeyerPotSpeed] = 20;
    RestoreDefaults();
}

SimBox::~SimBox() = default;

void SimBox::RestoreDefaults() {
    // The firmware identity and the physical inputs (switches, pot) survive a reset.
    const uint8_t version = settings_[box::kQuery];
    const uint8_t patch = settings_[box::kPatchLevel];
    const uint8_t special = settings_[box::kSpecialVersion];
    const uint8_t switches = settings_[box::kZuvoSwitches];
    const uint8_t pot = settings_[box::kKeyerPotSpeed];
    settings_.fill(0);
    settings_[box::kQuery] = version;
    settings_[box::kPatchLevel] = patch;
    settings_[box::kSpecialVersion] = special;
    settings_[box::kZuvoSwitches] = switches;
    settings_[box::kKeyerPotSpeed] = pot;

    settings_[box::kKeyerStatus] = 0x10;  // can take a character
    settings_[box::kKeyerSpeed] = 20;
    settings_[box::kKeyerControl] = box::kControlBitPot;  // on its own the box follows the pot
    settings_[box::kKeyerWeight] = 128;
    settings_[box::kPttPreSend] = 0;
    settings_[box::kPttPostSend] = 0;
    settings_[box::kKeyerPotMin] = 10;
    settings_[box::kKeyerPotMax] = 40;
    settings_[box::kZuvoBlend] = 0;
    settings_[box::kZuvoMap1] = 0;
    settings_[box::kZuvoMap2] = 1;
    settings_[box::kRttyStatus] = 0x01;  // ready for a character
    for (uint8_t c = box::kComp1; c <= box::kComp4; ++c) {
        settings_[c] = 0x80;  // compensation 0, as a host writes it
    }
    requestedState_ = 0;
    settings_[box::kZuvoState] = ApplyForcing(requestedState_, switches);
}

uint8_t SimBox::ApplyForcing(uint8_t state, uint8_t switches) {
    if ((switches & box::kSwitchTx1) != 0) {
        state &= static_cast<uint8_t>(~box::kStateTxRadio2);
    } else if ((switches & box::kSwitchTx2) != 0) {
        state |= box::kStateTxRadio2;
    }
    // A receive switch puts one radio in the headphones: no stereo, no reverse.
    const uint8_t noStereo = static_cast<uint8_t>(~(box::kStateStereo | box::kStateReverse));
    if ((switches & box::kSwitchRx1) != 0) {
        state &= static_cast<uint8_t>(~box::kStateRxRadio2) & noStereo;
    } else if ((switches & box::kSwitchRx2) != 0) {
        state = static_cast<uint8_t>((state | box::kStateRxRadio2) & noStereo);
    }
    return state;
}

void SimBox::ReceiveReport(uint8_t code, uint8_t value) {
    if (!UsbAttached()) {
        return;
    }
    WriteReportLine(Now(), "host", code, value);
    for (auto& component : components_) {
        if (component->OnHostReport(code, value, *this)) {
            return;
        }
    }
    if ((Flags(code) & kTakes) == 0) {
        Emit(box::kNotRecognized, code);
        return;
    }
    switch (code) {
        case box::kQuery:
            HandleQuery(value);
            return;
        case box::kResetDefaults:
            // Anything but the agreed value is taken as noise, not as a request to wipe.
            if (value == box::kResetDefaultsValue) {
                RestoreDefaults();
                Restart();
            }
            return;
        case box::kUpdateMode:
            if (value == box::kUpdateModeValue && updateModeHandler_) {
                updateModeHandler_(*this);
            }
            return;
        case box::kKeyerChar:
            settings_[code] = value;
            Emit(code, 1);  // taken; the box can take the next
            return;
        case box::kKeyerOverwrite:
            settings_[code] = value;
            Emit(code, 0);  // succeeded
            return;
        case box::kKeyerAbort:
            // Sending stops: tuning ends and a buffered speed change is dropped.
            settings_[box::kKeyerControl] &= static_cast<uint8_t>(~box::kControlBitTuning);
            settings_[box::kKeyerSpeedDelta] = 0;
            StoreAndEcho(code, value);
            return;
        case box::kKeyerControl:
            HandleKeyerControl(value);
            return;
        case box::kKeyerPotMin:
        case box::kKeyerPotMax:
            // Bit 7 only marks who wrote it; the box keeps the plain speed.
            StoreAndEcho(code, static_cast<uint8_t>(value & 0x7F));
            return;
        case box::kZuvoState:
            requestedState_ = value;
            StoreAndEcho(code, ApplyForcing(value, settings_[box::kZuvoSwitches]));
            return;
        case box::kRttySpeedBits:
        case box::kRttyCharacter:
            settings_[code] = value;  // out only: no answer
            return;
        default:
            StoreAndEcho(code, value);
            return;
    }
}

void SimBox::ReceiveRawReport(const uint8_t* data, size_t length) {
    if (length == box::kReportSize) {
        ReceiveReport(data[1], data[2]);
        return;
    }
    if (!UsbAttached() || length < box::kReportSize) {
        return;
    }
    WriteReportLine(Now(), "host", data[1], data[2]);
    for (auto& component : components_) {
        if (component->OnRawReport(data, length, *this)) {
            return;
        }
    }
}

bool SimBox::StoreAndEcho(uint8_t code, uint8_t value) {
    settings_[code] = value;
    Emit(code, value);
    return true;
}

void SimBox::HandleQuery(uint8_t code) {
    if ((Flags(code) & kQueryable) == 0) {
        Emit(box::kNotRecognized, code);
        return;
    }
    // Query 0 asks for the version byte, which the table keeps under code 0.
    Emit(code, settings_[code]);
}

void SimBox::HandleKeyerControl(uint8_t action) {
    uint8_t state = settings_[box::kKeyerControl];
    if ((action & box::kControlTuneOff) != 0) {
        state &= static_cast<uint8_t>(~box::kControlBitTuning);
    }
    if ((action & box::kControlTuneOn) != 0) {
        state |= box::kControlBitTuning;
    }
    if ((action & box::kControlSpeedFromHost) != 0) {
        state &= static_cast<uint8_t>(~box::kControlBitPot);
    }
    if ((action & box::kControlSpeedFromPot) != 0) {
        state |= box::kControlBitPot;
        settings_[box::kKeyerSpeed] = settings_[box::kKeyerPotSpeed];
    }
    StoreAndEcho(box::kKeyerControl, state);
}

void SimBox::SetSwitches(uint8_t switches) {
    switches &= 0x1F;
    if (switches == settings_[box::kZuvoSwitches]) {
        return;
    }
    settings_[box::kZuvoSwitches] = switches;
    Emit(box::kZuvoSwitches, switches);
    const uint8_t state = ApplyForcing(requestedState_, switches);
    if (state != settings_[box::kZuvoState]) {
        settings_[box::kZuvoState] = state;
        if (reportForcedState_) {
            Emit(box::kZuvoState, state);
        }
    }
}

void SimBox::SetPot(uint8_t wpm) {
    if (wpm == settings_[box::kKeyerPotSpeed]) {
        return;
    }
    settings_[box::kKeyerPotSpeed] = wpm;
    for (auto& component : components_) {
        if (component->OnPot(wpm, *this)) {
            return;
        }
    }
    if ((settings_[box::kKeyerControl] & box::kControlBitPot) != 0) {
        settings_[box::kKeyerSpeed] = wpm;
    }
    Emit(box::kKeyerPotSpeed, wpm);
}

void SimBox::PressPaddle() {
    for (auto& component : components_) {
        if (component->OnPaddle(*this)) {
            return;
        }
    }
    // The paddle breaks in: tuning and a buffered speed change end.
    settings_[box::kKeyerControl] &= static_cast<uint8_t>(~box::kControlBitTuning);
    settings_[box::kKeyerSpeedDelta] = 0;
    Emit(box::kKeyerEvent, box::kEventPaddlePressed);
}

void SimBox::SetReplyDelayMs(int ms) {
    replyDelayMs_ = std::max(0, ms);
}

void SimBox::SetVersion(uint8_t major, uint8_t minor, uint8_t patch, uint8_t special) {
    settings_[box::kQuery] = static_cast<uint8_t>((major & 0x0F) << 4 | (minor & 0x0F));
    settings_[box::kPatchLevel] = patch;
    settings_[box::kSpecialVersion] = special;
}

void SimBox::Unplug() {
    cable_ = false;
    output_.clear();
}

void SimBox::Replug() {
    if (cable_) {
        return;
    }
    cable_ = true;
    Restart(0);  // powered up again: back on USB at once
}

bool SimBox::UsbAttached() const {
    return cable_ && (backOnUsbMs_ < 0 || Now() >= backOnUsbMs_);
}

void SimBox::Restart(int64_t offlineMs) {
    output_.clear();
    settings_[box::kKeyerControl] &= static_cast<uint8_t>(~box::kControlBitTuning);
    settings_[box::kKeyerSpeedDelta] = 0;
    backOnUsbMs_ = offlineMs > 0 ? Now() + offlineMs : -1;
    for (auto& component : components_) {
        component->OnRestart(*this);
    }
}

void SimBox::AddComponent(std::unique_ptr<ISimComponent> component) {
    components_.push_back(std::move(component));
}

void SimBox::Emit(uint8_t code, uint8_t value) {
    SimReport report;
    report.code = code;
    report.value = value;
    Queue(std::move(report));
}

void SimBox::EmitRaw(std::vector<uint8_t> raw) {
    SimReport report;
    report.code = raw.size() > 1 ? raw[1] : 0;
    report.value = raw.size() > 2 ? raw[2] : 0;
    report.raw = std::move(raw);
    Queue(std::move(report));
}

void SimBox::Queue(SimReport report) {
    if (!UsbAttached()) {
        return;  // nobody to hear it
    }
    report.timeMs = Now() + replyDelayMs_;
    // Reports leave in the order they were made, whatever the delay was at the time.
    if (!output_.empty()) {
        report.timeMs = std::max(report.timeMs, output_.back().timeMs);
    }
    if (output_.size() >= kMaxQueuedReports) {
        output_.pop_front();
    }
    output_.push_back(std::move(report));
}

bool SimBox::HasReady() const {
    return UsbAttached() && !output_.empty() && output_.front().timeMs <= Now();
}

bool SimBox::PopReady(SimReport& out) {
    if (!HasReady()) {
        return false;
    }
    out = std::move(output_.front());
    output_.pop_front();
    WriteReportLine(out.timeMs, "box", out.code, out.value);
    return true;
}

int64_t SimBox::NextEventMs() const {
    int64_t next = -1;
    auto consider = [&next](int64_t t) {
        if (t >= 0 && (next < 0 || t < next)) {
            next = t;
        }
    };
    if (!output_.empty()) {
        consider(output_.front().timeMs);
    }
    if (cable_ && backOnUsbMs_ >= 0) {
        consider(backOnUsbMs_);
    }
    for (const auto& component : components_) {
        consider(component->NextEventMs());
    }
    return next;
}

int64_t SimBox::NextEventAfterMs(int64_t t) const {
    int64_t next = -1;
    auto consider = [&next, t](int64_t e) {
        if (e > t && (next < 0 || e < next)) {
            next = e;
        }
    };
    // The queue is in time order: the first report later than t is the one to wait for.
    for (const auto& report : output_) {
        if (report.timeMs > t) {
            consider(report.timeMs);
            break;
        }
    }
    if (cable_ && backOnUsbMs_ >= 0) {
        consider(backOnUsbMs_);
    }
    for (const auto& component : components_) {
        consider(component->NextEventMs());
    }
    return next;
}

void SimBox::Tick() {
    if (backOnUsbMs_ >= 0 && Now() >= backOnUsbMs_) {
        backOnUsbMs_ = -1;
    }
    if (!UsbAttached()) {
        return;
    }
    for (auto& component : components_) {
        component->Tick(*this);
    }
}

void SimBox::Note(std::string_view text) {
    if (transcript_ == nullptr) {
        return;
    }
    *transcript_ << Now() << ' ' << text << '\n';
    transcript_->flush();
}

void SimBox::WriteReportLine(int64_t timeMs, const char* who, uint8_t code, uint8_t value) {
    if (transcript_ == nullptr) {
        return;
    }
    char line[64];
    std::snprintf(line, sizeof line, "%lld %s 0x%02x 0x%02x\n", static_cast<long long>(timeMs), who,
                  code, value);
    *transcript_ << line;
    transcript_->flush();
}

}  // namespace zuvo::sim
