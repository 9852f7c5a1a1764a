// Drives the RTTY bridge with arbitrary RTTY messages (wParam, lParam), RTTY Status values,
// transmit-radio and map changes and connects. Checks that the counters never run ahead of
// the characters sent for a station, that the shared block mirrors them, and that the box is
// never handed more characters than it has said it is ready for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "link/box_sender.h"
#include "platform/fake/fake_rtty_channel.h"
#include "rtty/rtty_bridge.h"

namespace {

using namespace zuvo;

class NullLog final : public IEventLog {
  public:
    void LogMessage(std::string_view) override {}
    void LogByte(std::string_view, uint8_t) override {}
    void LogBytes2(std::string_view, uint8_t, uint8_t) override {}
    void LogBytes3(std::string_view, uint8_t, uint8_t, uint8_t) override {}
    void LogQuoted(std::string_view, std::string_view) override {}
    void LogLastError(std::string_view) override {}
};

class AllVerbose final : public IVerbose {
  public:
    bool IsVerbose(Verbose) const override { return true; }
};

class CountingSender final : public IBoxSender {
  public:
    bool connected = true;
    unsigned characters = 0;
    bool SendBoxCommand(int code, int) override {
        if (code == kCmdRttyCharacter) {
            ++characters;  // handed on, written or not
        }
        return connected;
    }
    bool IsConnectedFlag() const override { return connected; }
};

class Switching final : public ISwitchingControl {
  public:
    explicit Switching(const BoxState& state) : state_(state) {}
    uint8_t requested[2] = {0, 0};
    bool rttyPtt = false;
    void BeginHeadphoneLatch(int) override {}
    void EndHeadphoneLatch(int) override {}
    void SetKeyerPtt(bool) override {}
    void SetRttyPtt(bool on) override { rttyPtt = on; }
    bool RttyPtt() const override { return rttyPtt; }
    void UpdatePtt() override {}
    int CurrentTxIndex() const override { return state_.switchingState & 1; }
    uint8_t RequestedMap(int n) const override { return requested[n - 1]; }

  private:
    const BoxState& state_;
};

class Poster final : public platform::IMessagePoster {
  public:
    void Post(platform::Message) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NullLog log;
    AllVerbose verbose;
    CountingSender sender;
    BoxState state;
    Switching switching(state);
    platform::fake::FakeRttySharedBlock block;
    platform::fake::FakeRttyMessageReceiver receiver;
    Poster poster;
    RttyBridge bridge(switching, state, sender, log, verbose, block, receiver, poster);
    bridge.OpenRttyBridge();

    uint64_t charsFor[kRttyStations] = {};
    unsigned readyReports = 0;
    size_t i = 0;
    auto next = [&]() -> uint8_t { return i < size ? data[i++] : 0; };
    while (i < size) {
        const uint8_t op = next();
        switch (op % 7) {
            case 0: {  // a raw message, wParam and lParam as sent
                uint32_t w = next() | next() << 8 | next() << 16 | uint32_t{next()} << 24;
                const int32_t l = static_cast<int32_t>(next() | next() << 8);
                const uint8_t station = (w >> 8) & 0xFF;
                if ((w & 0xFF) == kRttyChar && station >= 1 && station <= kRttyStations) {
                    ++charsFor[station - 1];
                }
                bridge.OnRttyMessage(w, l);
                break;
            }
            case 1: {  // a well-formed message for a valid station
                const uint8_t type = 1 + next() % 6;
                const uint8_t station = 1 + next() % kRttyStations;
                const uint16_t value = static_cast<uint16_t>(next() | next() << 8);
                if (type == kRttyChar) {
                    ++charsFor[station - 1];
                }
                bridge.OnRttyMessage(PackRttyMessage(type, station, value), 0);
                break;
            }
            case 2: {
                const uint8_t status = next();
                readyReports += (status & kRttyStatusReady) != 0;
                bridge.OnRttyStatusReport(status);
                break;
            }
            case 3:
                state.switchingState = next();
                bridge.CheckRttyStation();
                break;
            case 4: {
                const uint8_t which = next();
                if (which & 0x80) {
                    switching.requested[which & 1] = next();
                } else {
                    state.map[which & 1] = next();
                }
                break;
            }
            case 5:
                bridge.ResetRttySpeedBits();
                sender.connected = (next() & 1) != 0;
                break;
            default:
                bridge.SendRttySpeedBits();
                break;
        }
        for (int s = 0; s < kRttyStations; ++s) {
            const uint64_t held = bridge.StationAt(s).pending ? 1 : 0;
            if (bridge.Counter(s) + held > charsFor[s] ||
                block.Read32(platform::RttyCounterOffset(s + 1)) != bridge.Counter(s)) {
                std::abort();
            }
        }
        // Each ready report lets one character go; the kept status may start ready only
        // after such a report.
        if (sender.characters > readyReports) {
            std::abort();
        }
    }
    return 0;
}
