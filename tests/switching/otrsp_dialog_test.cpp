// The switching port inside the whole dialog: fake host ports, the simulated box, the
// message loop pumped by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>

#include "link/box_protocol.h"
#include "platform/fake/fake_host_port.h"
#include "platform/fake/memory_profile.h"
#include "sim/sim_hid.h"
#include "ui/main_ids.h"
#include "ui/zuvo_dlg.h"

namespace zuvo {
namespace {

class SilentDialogs : public IDialogHost {
  public:
    void ShowError(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
};

class OtrspDialogTest : public ::testing::Test {
  protected:
    void Start(const std::string& ini) {
        profile.SetText("ZuvoBox.ini", ini);
        dlg = std::make_unique<CZuvoDlg>(CZuvoDlg::Environment{sim, queue, settings, dialogs, "",
                                                               [](std::chrono::milliseconds) {}});
        dlg->SetHostPortSystem(hostPorts);
        dlg->OnInitDialog();
    }
    void TearDown() override {
        if (dlg) {
            dlg->OnClose();
            dlg.reset();
        }
    }
    // Runs the message loop until done() holds (false after 3 s).
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
    // Runs the loop until nothing has arrived for 100 ms.
    void Settle() {
        platform::Message m;
        while (queue.Wait(m, std::chrono::milliseconds(100))) {
            dlg->Dispatch(m);
        }
    }
    int LogCount(const std::string& line) const {
        const auto& lines = dlg->Log().Lines();
        return static_cast<int>(std::count(lines.begin(), lines.end(), line));
    }
    static std::string Joined(const std::vector<std::string>& writes) {
        std::string all;
        for (const auto& w : writes) {
            all += w;
        }
        return all;
    }

    sim::SimHidSystem sim;
    platform::fake::FakeHostPortSystem hostPorts;
    platform::MessageQueue queue;
    platform::fake::MemoryProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    SilentDialogs dialogs;
    std::unique_ptr<CZuvoDlg> dlg;
};

// PTT toggled while no box is connected is refused by the link and must not count as a
// pending reply: the logger's query after the box connects is answered.
TEST_F(OtrspDialogTest, PttWhileDisconnectedThenConnectThenQueryIsAnswered) {
    sim.Unplug();
    Start("[Zuvo]\nAuto=TRUE\n");
    EXPECT_EQ(hostPorts.opened,
              (std::vector<std::string>{"pipe:OTRSP_DEVICE", "pipe:WINKEY_DEVICE"}));
    auto* logger = hostPorts.Find("pipe:OTRSP_DEVICE");
    ASSERT_NE(logger, nullptr);
    logger->Connect();
    logger->Send("X1\rX0\r");
    ASSERT_TRUE(Pump([&] { return LogCount("Zuvo Box is not connected") >= 3; }));
    Settle();
    EXPECT_EQ(dlg->Otrsp().PendingReplies(), 0);

    sim.Replug();
    ASSERT_TRUE(Pump([&] { return LogCount("Connected to Zuvo Box version 1.0-0") == 1; }));
    ASSERT_TRUE(Pump([&] { return !dlg->Otrsp().ResyncPending(); }));
    Settle();
    EXPECT_EQ(dlg->Otrsp().PendingReplies(), 0);

    logger->Send("?RX\r");
    ASSERT_TRUE(Pump([&] { return Joined(logger->Writes()) == "RX1\r"; }));
    logger->Send("RX1S\r?RX\r");
    ASSERT_TRUE(Pump([&] { return Joined(logger->Writes()) == "RX1\rRX1S\r"; }));
}

TEST_F(OtrspDialogTest, FrontPanelSwitchesReachTheLoggerAsChangeReports) {
    Start("[Zuvo]\nAuto=TRUE\n");
    ASSERT_TRUE(Pump([&] { return LogCount("Connected to Zuvo Box version 1.0-0") == 1; }));
    auto* logger = hostPorts.Find("pipe:OTRSP_DEVICE");
    logger->Connect();
    logger->Send("ERX1\r");
    ASSERT_TRUE(Pump([&] { return Joined(logger->Writes()) == "$RX1\r"; }));
    sim.SetSwitches(box::kSwitchRx2);
    ASSERT_TRUE(Pump([&] { return Joined(logger->Writes()) == "$RX1\r$RX2\r"; }));
    // Unchecking "Pipes" closes both ports; the manual controls come back.
    dlg->Window().Model().SetChecked(ids::kPipes, false);
    dlg->OnControlChanged(ids::kPipes);
    EXPECT_FALSE(dlg->Port(HostPortKind::kSwitching).IsRunning());
    EXPECT_FALSE(dlg->Port(HostPortKind::kKeyer).IsRunning());
    EXPECT_EQ(profile.Text("ZuvoBox.ini").value_or("").find("Auto=FALSE") != std::string::npos,
              true);
}

TEST_F(OtrspDialogTest, ComPortThatCannotBeOpenedUnchecksItsBox) {
    hostPorts.failOpen = platform::FromErrno(16);
    Start("[Zuvo]\nUsePort=TRUE\nPort=2\n");
    EXPECT_EQ(hostPorts.opened.size(), 0u);
    EXPECT_EQ(LogCount("Cannot open Zuvo port:"), 1);
    EXPECT_FALSE(dlg->Window().Model().Checked(ids::kZuvoPortCheck));
}

}  // namespace
}  // namespace zuvo
