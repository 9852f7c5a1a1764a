// Drives the WinKeyer interpreter with arbitrary host bytes interleaved with arbitrary box
// reports, link and port changes. After every step the send buffer's pointers must lie in
// 0..128 and the send state in 0..3; nothing may read or write out of bounds.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "core/event_log.h"
#include "core/settings_store.h"
#include "keyer/keyer_options.h"
#include "keyer/keyer_port.h"
#include "keyer/winkeyer.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "platform/fake/memory_profile.h"
#include "switching/switching_control.h"

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

struct Box final : zuvo::IBoxSender {
    bool connected = true;
    bool SendBoxCommand(int code, int) override {
        CHECK(code >= 0 && code < 128);
        return connected;
    }
    bool IsConnectedFlag() const override { return connected; }
};

struct Port final : zuvo::IKeyerPort {
    bool running = true;
    bool IsKeyerPortRunning() const override { return running; }
    void WriteKeyerByte(uint8_t) override {}
};

struct Switching final : zuvo::ISwitchingControl {
    void BeginHeadphoneLatch(int) override {}
    void EndHeadphoneLatch(int) override {}
    void SetKeyerPtt(bool) override {}
    void SetRttyPtt(bool) override {}
    bool RttyPtt() const override { return false; }
    void UpdatePtt() override {}
    int CurrentTxIndex() const override { return 0; }
    uint8_t RequestedMap(int) const override { return 0; }
};

struct Options final : zuvo::IKeyerOptions {
    bool logger = false;
    bool smart = true;
    bool LoggerControlsKeyer() const override { return logger; }
    bool SmartEditing() const override { return smart; }
};

struct Harness {
    NullLog log;
    Verbose verbose;
    Box box;
    zuvo::BoxState state;
    Port port;
    Switching switching;
    zuvo::platform::fake::MemoryProfile profile;
    zuvo::SettingsStore settings{profile, "fuzz.ini"};
    Options options;
    zuvo::WinKeyer keyer{box, state, port, switching, settings, log, verbose, options};
};

void CheckInvariants(const zuvo::WinKeyer& keyer) {
    const zuvo::SendBuffer& b = keyer.Buffer();
    for (int p : {b.insPtr, b.end, b.loadPtr, b.sendPtr}) {
        CHECK(p >= 0 && p <= zuvo::kSendBufferSize);
    }
    CHECK(b.state <= zuvo::kSendDraining);
    CHECK(keyer.AccumulatedBytes() >= 0 && keyer.AccumulatedBytes() < 64);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness h;
    h.keyer.OnKeyerPortOpened();
    for (size_t i = 0; i + 1 < size; i += 2) {
        const uint8_t op = data[i];
        const uint8_t arg = data[i + 1];
        if (op < 0xA0) {
            h.keyer.OnKeyerByte(0, static_cast<int8_t>(arg));  // as the port thread posts it
        } else if (op < 0xC0) {
            h.keyer.OnBoxSendingChar(arg);
        } else if (op < 0xD0) {
            h.keyer.OnBoxKeyerEvent(static_cast<uint8_t>(arg % 8));
        } else if (op < 0xD8) {
            h.keyer.OnBoxKeyerAbort(arg);
        } else {
            switch (op) {
                case 0xD8:
                    h.state.tune = (arg & 1) != 0;
                    h.keyer.OnBoxKeyerControl();
                    break;
                case 0xD9:
                    h.keyer.OnBoxPotSpeed(arg);
                    break;
                case 0xDA:
                    h.box.connected = (arg & 1) != 0;
                    break;
                case 0xDB:
                    h.port.running = (arg & 1) != 0;
                    break;
                case 0xDC:
                    h.keyer.OnKeyerPortOpened();
                    break;
                case 0xDD:
                    h.keyer.ResendKeyerSettings();
                    break;
                case 0xDE:
                    h.state.keyerConfig = arg;
                    h.keyer.ApplyKeyerConfig();
                    break;
                case 0xDF:
                    h.options.smart = (arg & 1) != 0;
                    h.options.logger = (arg & 2) != 0;
                    h.verbose.on = (arg & 4) != 0;
                    break;
                default:
                    h.keyer.OnKeyerByte(arg, 0xFFFF);  // a read error
                    break;
            }
        }
        CheckInvariants(h.keyer);
    }
    return 0;
}
