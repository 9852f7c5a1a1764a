// Drives the WinKeyer interpreter with arbitrary host bytes interleaved with arbitrary box
// reports, link and port changes. After every step the send buffer's pointers must lie in
// 0..128 and the send state in 0..3; nothing may read or write out of bounds. What the host
// reads keeps its class: a pot byte is 10xxxxxx, a status byte 11xxxxxx, and no idle status
// (0xC0) goes out after a Keyer Control report or an idle event while text is still sent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/event_log.h"
#include "core/settings_store.h"
#include "keyer/keyer_options.h"
#include "keyer/keyer_port.h"
#include "keyer/winkeyer.h"
#include "link/box_protocol.h"
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
    std::vector<uint8_t> written;
    bool IsKeyerPortRunning() const override { return running; }
    void WriteKeyerByte(uint8_t byte) override { written.push_back(byte); }
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

bool IsPotByte(uint8_t b) {
    return (b & 0xC0) == 0x80;
}

bool IsStatusByte(uint8_t b) {
    return (b & 0xC0) == 0xC0;
}

// The bytes the host was written since `from`: all in their class, and no idle while the
// keyer still sends.
void CheckWritten(const Harness& h, size_t from, bool (*inClass)(uint8_t)) {
    for (size_t i = from; i < h.port.written.size(); ++i) {
        const uint8_t b = h.port.written[i];
        CHECK(inClass(b));
        if (IsStatusByte(b)) {
            CHECK(b != 0xC0 || h.keyer.Buffer().state == zuvo::kSendIdle);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Harness h;
    h.keyer.OnKeyerPortOpened();
    for (size_t i = 0; i + 1 < size; i += 2) {
        const uint8_t op = data[i];
        const uint8_t arg = data[i + 1];
        const size_t before = h.port.written.size();
        if (op < 0xA0) {
            const bool potRequest = h.keyer.AccumulatedBytes() == 0 && arg == 0x07;
            h.keyer.OnKeyerByte(0, static_cast<int8_t>(arg));  // as the port thread posts it
            if (potRequest) {
                CHECK(h.port.written.size() == before + 1);
                CheckWritten(h, before, IsPotByte);
            }
        } else if (op < 0xC0) {
            h.keyer.OnBoxSendingChar(arg);
        } else if (op < 0xD0) {
            const uint8_t type = static_cast<uint8_t>(arg % 8);
            h.keyer.OnBoxKeyerEvent(type);
            if (type != zuvo::box::kEventEndOfCharacter) {  // which writes a held echo
                CheckWritten(h, before, IsStatusByte);
            }
        } else if (op < 0xD8) {
            h.keyer.OnBoxKeyerAbort(arg);
            CheckWritten(h, before, IsStatusByte);
        } else {
            switch (op) {
                case 0xD8:
                    h.state.keyerControl = arg;
                    h.state.tune = (arg & zuvo::box::kControlBitTuning) != 0;
                    h.keyer.OnBoxKeyerControl();
                    CheckWritten(h, before, IsStatusByte);
                    break;
                case 0xD9:
                    h.keyer.OnBoxPotSpeed(arg);
                    CheckWritten(h, before, IsPotByte);
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
