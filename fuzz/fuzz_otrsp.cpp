// Drives the OTRSP interpreter with arbitrary port bytes interleaved with modem events,
// box answers (or a box that stays silent), front-panel switch changes, disconnects and
// reconnects. After every step: the line never exceeds 64 characters, the requested state
// keeps bits 5-7 clear, pending replies equal commands sent minus replies received, and
// once every command has been answered the deferred queue is empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>

#include "core/event_log.h"
#include "core/settings_store.h"
#include "link/box_protocol.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "platform/fake/memory_profile.h"
#include "rtty/rtty_speed_bits.h"
#include "switching/otrsp_interpreter.h"
#include "switching/switching_port.h"

namespace {

#define CHECK(cond)       \
    do {                  \
        if (!(cond)) {    \
            std::abort(); \
        }                 \
    } while (false)

struct NullLog final : zuvo::IEventLog {
    void LogMessage(std::string_view) override {}
    void LogByte(std::string_view p, uint8_t b) override { (void)zuvo::FormatByteLine(p, b); }
    void LogBytes2(std::string_view, uint8_t, uint8_t) override {}
    void LogBytes3(std::string_view, uint8_t, uint8_t, uint8_t) override {}
    void LogQuoted(std::string_view p, std::string_view text) override {
        std::string line;
        (void)zuvo::FormatQuotedLine(p, text, line);
    }
    void LogLastError(std::string_view) override {}
};

struct Verbose final : zuvo::IVerbose {
    bool on = false;
    bool IsVerbose(zuvo::Verbose) const override { return on; }
};

// Keeps what it was sent; the driver decides when (and whether) the box answers.
struct Box final : zuvo::IBoxSender {
    bool connected = true;
    std::deque<std::pair<uint8_t, uint8_t>> unanswered;
    bool SendBoxCommand(int code, int value) override {
        CHECK(code >= 0 && code < 128);
        CHECK(value >= 0 && value < 256);
        if (!connected) {
            return false;
        }
        if (code != zuvo::box::kQuery) {
            unanswered.emplace_back(static_cast<uint8_t>(code), static_cast<uint8_t>(value));
        }
        return true;
    }
    bool IsConnectedFlag() const override { return connected; }
};

struct Port final : zuvo::ISwitchingPort {
    bool pipe = true;
    uint32_t modem = 0;
    bool modemOk = true;
    size_t written = 0;
    void WriteSwitchingText(std::string_view text) override { written += text.size(); }
    bool PipeMode() const override { return pipe; }
    bool GetSwitchingModemStatus(uint32_t& status) override {
        status = modem;
        return modemOk;
    }
};

struct Window final : zuvo::ISwitchingWindow {
    int blend = 0;
    void SetLatchCheck(bool) override {}
    void SetSplitStereoCheck(bool) override {}
    int BlendSelection() const override { return blend; }
};

struct Rtty final : zuvo::IRttySpeedBits {
    void SendRttySpeedBits() override {}
    void ResetRttySpeedBits() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    zuvo::platform::fake::MemoryProfile profile;
    zuvo::SettingsStore settings(profile, "fuzz.ini");
    NullLog log;
    Verbose verbose;
    Box box;
    zuvo::BoxState state;
    Rtty rtty;
    Port port;
    Window window;
    zuvo::OtrspInterpreter otrsp(
        zuvo::OtrspInterpreter::Deps{box, state, log, verbose, settings, rtty, port, window});

    // What the report handler does with one answer.
    auto answer = [&] {
        const auto [code, value] = box.unanswered.front();
        box.unanswered.pop_front();
        otrsp.CountBoxReply();
        if (code == zuvo::box::kZuvoState) {
            state.switchingState = value;
        } else if (code >= zuvo::box::kAux1 && code <= zuvo::box::kAux4) {
            state.aux[code - zuvo::box::kAux1] = value;
        } else if (code == zuvo::box::kZuvoMap1 || code == zuvo::box::kZuvoMap2) {
            state.map[code - zuvo::box::kZuvoMap1] = value;
        } else if (code == zuvo::box::kZuvoConfig) {
            state.switchingConfig = value;
        }
        otrsp.ProcessDeferredCommands();
        if (code == zuvo::box::kZuvoState) {
            otrsp.OnSwitchingStateReport();
        }
    };

    size_t i = 0;
    while (i < size) {
        const uint8_t op = data[i++];
        const uint8_t arg = i < size ? data[i] : 0;
        // Most bytes go to the port as they are, so that real lines form easily.
        if (op < 0xF0) {
            otrsp.OnSwitchingPortByte(0, static_cast<int8_t>(op));
        } else {
            ++i;
            switch (op) {
                case 0xF0:
                    otrsp.OnSwitchingPortByte(0, static_cast<int8_t>(arg));
                    break;
                case 0xF1:
                    otrsp.OnSwitchingPortByte(arg, 0xFFFF);
                    break;
                case 0xF2:
                    port.modem = arg;
                    port.modemOk = (arg & 0x80) == 0;
                    otrsp.OnModemStatus(arg & 0x1F);
                    break;
                case 0xF3:
                    for (int n = 0; n < (arg & 7) + 1 && !box.unanswered.empty(); ++n) {
                        answer();
                    }
                    break;
                case 0xF4:
                    state.switchingSwitches = arg & 0x1F;
                    otrsp.ReportSwitchingChanges();
                    break;
                case 0xF5:  // the box goes away
                    box.connected = false;
                    box.unanswered.clear();
                    otrsp.ClearOnDisconnect();
                    break;
                case 0xF6:  // it comes back: the connect query counts its nine answers
                    box.connected = true;
                    for (int n = 0; n < 9; ++n) {
                        otrsp.CountBoxCommand();
                        box.unanswered.emplace_back(zuvo::box::kAux1, 0);
                    }
                    box.unanswered.back() = {zuvo::box::kZuvoState, arg};
                    otrsp.RequestResync();
                    break;
                case 0xF7:
                    port.pipe = (arg & 1) != 0;
                    break;
                case 0xF8:
                    verbose.on = (arg & 1) != 0;
                    break;
                case 0xF9:
                    otrsp.SetKeyerPtt(arg & 1);
                    otrsp.SetRttyPtt(arg & 2);
                    otrsp.UpdatePtt();
                    break;
                case 0xFA:
                    if (arg & 1) {
                        otrsp.BeginHeadphoneLatch(1 + (arg >> 7));
                    } else {
                        otrsp.EndHeadphoneLatch(arg >> 6);
                    }
                    break;
                case 0xFB:
                    otrsp.OnPortClosed();
                    otrsp.OnPortOpened();
                    break;
                case 0xFC:
                    window.blend = static_cast<int8_t>(arg);
                    break;
                default:
                    otrsp.OnSwitchingPortByte(0, '\r');
                    break;
            }
        }
        CHECK(otrsp.LineLength() <= zuvo::OtrspInterpreter::kLineMax);
        CHECK((otrsp.RequestedState() & 0xE0) == 0);
        CHECK(otrsp.PendingReplies() == otrsp.CommandsSent() - otrsp.RepliesReceived());
        CHECK(otrsp.PendingReplies() == static_cast<int>(box.unanswered.size()));
    }
    // A box that answers everything leaves nothing waiting.
    while (!box.unanswered.empty()) {
        answer();
    }
    CHECK(otrsp.PendingReplies() == 0);
    CHECK(otrsp.QueuedCount() == 0);
    return 0;
}
