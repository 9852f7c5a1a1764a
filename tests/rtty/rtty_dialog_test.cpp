// The RTTY bridge inside the whole dialog: the simulated box, a fake switching port for the
// logger, the bridge's block and message faked, the message loop pumped by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <mutex>
#include <sstream>

#include "platform/fake/fake_host_port.h"
#include "platform/fake/fake_rtty_channel.h"
#include "platform/fake/memory_profile.h"
#include "rtty/rtty_bridge.h"
#include "sim/sim_hid.h"
#include "ui/zuvo_dlg.h"

namespace zuvo {
namespace {

class NoDialogs : public IDialogHost {
  public:
    void ShowError(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
};

// Collects the simulated box's transcript; written under the simulator's lock.
class LockedStream : public std::stringbuf {
  public:
    std::string Text() {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return str();
    }

  protected:
    int sync() override { return 0; }
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return std::stringbuf::xsputn(s, n);
    }
    int_type overflow(int_type c) override {
        std::lock_guard<std::recursive_mutex> lock(mutex_);
        return std::stringbuf::overflow(c);
    }

  private:
    std::recursive_mutex mutex_;  // xsputn calls overflow
};

class RttyDialogTest : public ::testing::Test {
  protected:
    RttyDialogTest() : transcript(&buffer) {
        sim.SetTranscript(&transcript);
        profile.SetText("ZuvoBox.ini", "[Zuvo]\nAuto=TRUE\n");
        dlg = std::make_unique<CZuvoDlg>(CZuvoDlg::Environment{sim, queue, settings, dialogs, "",
                                                               [](std::chrono::milliseconds) {}});
        dlg->SetHostPortSystem(hostPorts);
        dlg->SetRttyChannel(block, receiver);
        dlg->OnInitDialog();
    }
    ~RttyDialogTest() override {
        dlg->OnClose();
        dlg.reset();
        sim.SetTranscript(nullptr);
    }
    bool Pump(const std::function<bool()>& done) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        while (!done()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            platform::Message m;
            if (queue.Wait(m, std::chrono::milliseconds(10))) {
                dlg->Dispatch(m);
            }
        }
        return true;
    }
    bool Logged(const std::string& line) const {
        const auto& lines = dlg->Log().Lines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }
    bool Has(const std::string& text) { return buffer.Text().find(text) != std::string::npos; }
    void Rtty(uint8_t type, uint8_t station, uint16_t value) {
        queue.Post({platform::kMsgRtty, PackRttyMessage(type, station, value), 0, "", 0});
    }

    sim::SimHidSystem sim;
    LockedStream buffer;
    std::ostream transcript;
    platform::fake::FakeHostPortSystem hostPorts;
    platform::fake::FakeRttySharedBlock block;
    platform::fake::FakeRttyMessageReceiver receiver;
    platform::MessageQueue queue;
    platform::fake::MemoryProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    NoDialogs dialogs;
    std::unique_ptr<CZuvoDlg> dlg;
};

TEST_F(RttyDialogTest, LoggerTxChangeMovesTheBridgeToTheOtherStation) {
    EXPECT_EQ(&queue, receiver.poster);
    EXPECT_EQ(1u, block.Read32(platform::kRttyOffsetMarker));
    ASSERT_TRUE(Pump([&] { return Logged("Connected to Zuvo Box version 1.0-0"); }));
    // The switching port ignores TX commands until the box has answered the connect query,
    // which may still be on its way (under load, or under Wine).
    ASSERT_TRUE(Pump([&] { return !dlg->Otrsp().ResyncPending(); }));

    Rtty(kRttySpeed, 2, 300);
    Rtty(kRttyChar, 2, 'X');  // radio 1 (station 1) transmits: counted only
    ASSERT_TRUE(Pump([&] { return block.Read32(platform::RttyCounterOffset(2)) == 1; }));
    EXPECT_FALSE(Has("host 0x43"));

    auto* logger = hostPorts.Find("pipe:OTRSP_DEVICE");
    ASSERT_NE(nullptr, logger);
    logger->Connect();
    logger->Send("TX2\r");
    // The TX change asks the bridge for the speed bits of the station still on the air.
    ASSERT_TRUE(Pump([&] { return Has("host 0x42 0x41"); }));
    ASSERT_TRUE(Pump([&] { return (dlg->State().switchingState & 1) == 1; }));

    Rtty(kRttyChar, 2, 'K');
    ASSERT_TRUE(Pump([&] { return Has("host 0x43 0x4b"); }));
    const std::string t = buffer.Text();
    EXPECT_LT(t.find("host 0x42 0x49"), t.find("host 0x43 0x4b"));  // 300 baud, 5 bits
    EXPECT_EQ(2u, block.Read32(platform::RttyCounterOffset(2)));
}

}  // namespace
}  // namespace zuvo
