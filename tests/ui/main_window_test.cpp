#include "ui/main_window.h"

#include <gtest/gtest.h>

#include <chrono>

#include "link/box_protocol.h"
#include "platform/fake/fake_hid.h"
#include "platform/fake/fake_host_port.h"
#include "platform/fake/memory_profile.h"
#include "ui/main_ids.h"
#include "ui/zuvo_dlg.h"

namespace zuvo {
namespace {

using namespace ids;

struct Texts {
    std::string rx, tx, stereo, ptt;
};

Texts Status(uint8_t s, uint8_t w) {
    BoxState state;
    MainWindow window(state);
    state.switchingState = s;
    state.switchingSwitches = w;
    window.ShowSwitchingStatus();
    const WindowModel& m = window.Model();
    return {m.Text(kRxText), m.Text(kTxText), m.Text(kStereoText), m.Text(kPttText)};
}

TEST(StatusDisplay, SwitchingTextsMarkForcedAndInhibitedRadios) {
    EXPECT_EQ(Status(0x00, 0x00).tx, "TX1");
    EXPECT_EQ(Status(0x01, 0x00).tx, "TX2");
    EXPECT_EQ(Status(0x00, box::kSwitchTx1).tx, "TX1 *");
    EXPECT_EQ(Status(0x01, box::kSwitchTx1).tx, "TX1 (Inhibit)");
    EXPECT_EQ(Status(0x01, box::kSwitchTx2).tx, "TX2 *");
    EXPECT_EQ(Status(0x00, box::kSwitchTx2).tx, "TX2 (Inhibit)");
    EXPECT_EQ(Status(0x00, 0x00).rx, "RX1");
    EXPECT_EQ(Status(0x02, 0x00).rx, "RX2");
    EXPECT_EQ(Status(0x02, box::kSwitchRx1).rx, "RX1 *");
    EXPECT_EQ(Status(0x00, box::kSwitchRx2).rx, "RX2 *");
    EXPECT_EQ(Status(0x14, 0x00).stereo, "Stereo");
    EXPECT_EQ(Status(0x10, 0x00).stereo, "Reverse");
    EXPECT_EQ(Status(0x00, 0x00).stereo, "");
    EXPECT_EQ(Status(0x08, 0x00).ptt, "PTT");
    EXPECT_EQ(Status(0x00, box::kSwitchPttInput).ptt, "PTT");
    EXPECT_EQ(Status(0x07, 0x0F).ptt, "");
}

TEST(StatusDisplay, SpeedAntennasTuneAndTheDisconnectedView) {
    BoxState state;
    MainWindow window(state);
    const WindowModel& m = window.Model();
    state.keyerSpeed = 25;
    state.speedOffset = 3;
    window.ShowSpeed();
    EXPECT_EQ(m.Text(kSpeedText), "25 +3 WPM");
    state.speedOffset = -2;
    window.ShowSpeed();
    EXPECT_EQ(m.Text(kSpeedText), "25 -2 WPM");
    state.speedOffset = 0;
    window.ShowSpeed();
    EXPECT_EQ(m.Text(kSpeedText), "25 WPM");
    window.ShowAux(1, 0xF3);
    window.ShowAux(2, 0x17);
    window.ShowAux(3, 0x05);  // not shown
    EXPECT_EQ(m.Text(kAntennas1Text), "Ant1  3");
    EXPECT_EQ(m.Text(kAntennas2Text), "Ant2  7");
    window.ShowTune(true);
    EXPECT_EQ(m.Text(kTuneText), "Tune");
    state.switchingState = 0x1F;
    window.ShowSwitchingStatus();

    window.ResetBoxView();
    for (int id :
         {kRxText, kTxText, kStereoText, kSpeedText, kAntennas1Text, kAntennas2Text, kTuneText}) {
        EXPECT_EQ(m.Text(id), "") << id;
    }
    EXPECT_EQ(m.Text(kPttText), "PTT");  // kept until the next switching report
}

class NoDialogs : public IDialogHost {
  public:
    void ShowError(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
};

// The whole dialog on a fake HID system with one box and settings in memory.
class DialogTest : public ::testing::Test {
  protected:
    void AddBox() {
        platform::fake::FakeHidSystem::Device box;
        box.attributes.vendorId = box::kVendorId;
        box.attributes.productId = box::kProductApplication;
        hid.AddDevice(kBoxPath, box);
    }
    std::unique_ptr<CZuvoDlg> Start(const std::string& ini, bool withBox = true) {
        if (withBox) {
            AddBox();
        }
        profile.SetText("ZuvoBox.ini", ini);
        auto dlg = std::make_unique<CZuvoDlg>(CZuvoDlg::Environment{
            hid, queue, settings, dialogs, "", [](std::chrono::milliseconds) {}});
        dlg->SetHostPortSystem(hostPorts);
        dlg->OnInitDialog();
        return dlg;
    }
    static constexpr const char* kBoxPath = "/dev/hidraw0";
    platform::fake::FakeHidSystem hid;
    platform::fake::FakeHostPortSystem hostPorts;
    platform::MessageQueue queue;
    platform::fake::MemoryProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    NoDialogs dialogs;
};

TEST_F(DialogTest, StartupShowsTheSavedPortsPipesAndIndependentLatchAndSplitStereo) {
    auto dlg = Start(
        "[Zuvo]\nAuto=TRUE\nPort=3\nLatchHeadphones=FALSE\nSplitStereo=TRUE\n"
        "[Keyer]\nPort=1\nUsePort=TRUE\nLoggerControls=TRUE\n");
    const WindowModel& m = dlg->Window().Model();
    EXPECT_TRUE(m.Checked(kPipes));
    EXPECT_FALSE(m.Enabled(kKeyerPortCheck));
    EXPECT_FALSE(m.Enabled(kZuvoPortCheck));
    EXPECT_FALSE(m.Enabled(kKeyerPortList));
    EXPECT_FALSE(m.Enabled(kZuvoPortList));
    EXPECT_EQ(m.Selection(kKeyerPortList), 1);
    EXPECT_EQ(m.Selection(kZuvoPortList), 3);
    EXPECT_TRUE(m.Checked(kSplitStereo));
    EXPECT_FALSE(m.Checked(kLatch));
    EXPECT_TRUE(m.Checked(kLoggerControls));
    EXPECT_EQ(m.Get(kPotMinList).items.front(), " 2");
    EXPECT_EQ(m.Get(kPotMinList).items.size(), 98u);
    EXPECT_EQ(m.Get(kWeightList).items.size(), 256u);
    EXPECT_EQ(m.Get(kKeyerPortList).items[31], "COM32");
    EXPECT_EQ(m.Get(kMap2List).items[3], " 4");
    // The box opened: the connected look, less the keyer controls the logger sets.
    EXPECT_TRUE(m.Enabled(kTightTiming));
    EXPECT_FALSE(m.Enabled(kWeightList));
}

TEST_F(DialogTest, EachComNumberShowsTheDeviceItOpens) {
    const std::string adapter = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    auto dlg = Start("[Ports]\nCOM3=" + adapter + "\n[Keyer]\nPort=2\n", false);
    const Control& keyer = dlg->Window().Model().Get(kKeyerPortList);
    ASSERT_EQ(keyer.itemNotes.size(), 32u);
    EXPECT_EQ(keyer.items[2], "COM3");  // what the settings and the port rules rely on
    EXPECT_EQ(keyer.itemNotes[2], adapter);
    EXPECT_EQ(keyer.itemNotes[0], "/dev/ttyS0");
    EXPECT_EQ(dlg->Window().Model().Get(kZuvoPortList).itemNotes[31], "/dev/ttyS31");
}

TEST_F(DialogTest, EnterAndEscapeDoNothingAndCloseHandsTheSpeedBackToThePot) {
    auto dlg = Start("");
    hid.ClearWritten(kBoxPath);
    dlg->OnDialogKey(CZuvoDlg::DialogKey::kEscape);
    dlg->OnDialogKey(CZuvoDlg::DialogKey::kEnter);
    EXPECT_FALSE(dlg->Closed());
    EXPECT_TRUE(hid.Written(kBoxPath).empty());
    dlg->Dispatch({platform::kMsgClose, 0, 0, "", 0});
    EXPECT_TRUE(dlg->Closed());
    const auto written = hid.Written(kBoxPath);
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back(), (std::vector<uint8_t>{0x00, box::kKeyerControl, 8}));
}

TEST_F(DialogTest, ControlsChangedWithoutABoxLogOneLineEachAndKeepTheDisconnectedView) {
    auto dlg = Start("", false);
    ASSERT_FALSE(dlg->Link().IsConnectedFlag());
    WindowModel& m = dlg->Window().Model();
    dlg->Log().SetKeepLines(true);
    const size_t before = dlg->Log().Lines().size();
    m.SetChecked(kATiming, true);
    dlg->OnControlChanged(kATiming);
    m.SetSelection(kPotMinList, 5);
    dlg->OnControlChanged(kPotMinList);
    const auto& lines = dlg->Log().Lines();
    ASSERT_EQ(lines.size(), before + 2);
    EXPECT_EQ(lines.back(), "Zuvo Box is not connected");
    EXPECT_FALSE(m.Checked(kATiming));
    EXPECT_FALSE(m.Enabled(kATiming));
    EXPECT_EQ(m.Selection(kPotMinList), -1);
    // Every control, as a user would change it: at most the one refusal line each.
    std::vector<int> ids;
    for (const auto& [id, control] : m.Controls()) {
        ids.push_back(id);
    }
    for (int id : ids) {
        if (id == kPipes || id == kKeyerPortCheck || id == kZuvoPortCheck) {
            continue;  // they open ports, which is not about the box
        }
        const size_t count = lines.size();
        if (!m.Get(id).items.empty()) {
            m.SetSelection(id, 1);
        } else {
            m.SetChecked(id, !m.Checked(id));
        }
        dlg->OnControlChanged(id);
        ASSERT_LE(lines.size(), count + 1) << id;
        if (lines.size() == count + 1) {
            EXPECT_EQ(lines.back(), "Zuvo Box is not connected") << id;
        }
        EXPECT_FALSE(m.Enabled(kTightTiming));
    }
}

}  // namespace
}  // namespace zuvo
