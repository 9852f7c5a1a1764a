#include <gtest/gtest.h>

#include "utility/utility_fixture.h"

namespace zuvo {
namespace {

using namespace utility;
using Sends = std::vector<std::pair<int, int>>;
using Lines = std::vector<std::string>;

class UtilityDlgTest : public test::UtilityFixture {};

TEST_F(UtilityDlgTest, ConnectSendsTheQueriesInOrder) {
    AddBox();
    dlg_.OnControlChanged(kConnect);
    Sends expected;
    for (uint8_t code : box::kUtilityConnectQuery) {
        expected.emplace_back(0, code);
    }
    EXPECT_EQ(Sent(), expected);
    EXPECT_EQ(TakeLines(), Lines{"Connected"});
    EXPECT_EQ(dlg_.Model().Text(kConnect), "Disconnect");

    dlg_.OnControlChanged(kConnect);
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    EXPECT_EQ(TakeLines(), Lines{"Disconnected"});
    EXPECT_EQ(dlg_.Model().Text(kConnect), "Connect");
}

TEST_F(UtilityDlgTest, NoBoxAndOtherDevices) {
    platform::fake::FakeHidSystem::Device other;
    other.attributes = {0x046D, 0xC52B, 1};
    hid_.AddDevice("/dev/mouse", other);
    dlg_.OnControlChanged(kConnect);
    EXPECT_EQ(TakeLines(), Lines{"Not connected"});
    EXPECT_TRUE(hid_.Written("/dev/mouse").empty());
}

TEST_F(UtilityDlgTest, FailedHandleOpenLeavesTheLinkDisconnected) {
    AddBox();
    hid_.DeviceAt(kBox).openError[static_cast<int>(platform::HidAccess::kRead)] =
        platform::kErrorAccessDenied;
    dlg_.OnControlChanged(kConnect);
    const Lines lines = TakeLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("CreateFile (ReadHandle): ", 0), 0u);
    EXPECT_EQ(lines[1], "Not connected");
    // Nothing counts as written without a handle: controls are refused.
    Select(kSpeed, 3);
    EXPECT_EQ(TakeLines(), Lines{"Connect to Zuvo Box first!"});
    EXPECT_TRUE(Sent().empty());
}

TEST_F(UtilityDlgTest, ABoxAnotherProgramHoldsIsNotShared) {
    AddBox();
    auto holder = hid_.Open(kBox, platform::HidAccess::kWrite);
    ASSERT_NE(holder, nullptr);
    dlg_.OnControlChanged(kConnect);
    EXPECT_EQ(TakeLines(), (Lines{"Zuvo Box is in use by another program", "Not connected"}));
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    holder.reset();
    dlg_.OnControlChanged(kConnect);
    EXPECT_EQ(TakeLines(), Lines{"Connected"});
}

TEST_F(UtilityDlgTest, BootLoaderConnectsInUpdateModeAndRefusesCommands) {
    AddBox(box::kProductBootLoader);
    dlg_.OnControlChanged(kConnect);
    EXPECT_EQ(TakeLines(), (Lines{"Connected", "Zuvo Box is in firmware update mode"}));
    EXPECT_TRUE(Sent().empty());
    EXPECT_TRUE(dlg_.Link().UpdateMode());
    Select(kSpeed, 10);
    EXPECT_EQ(TakeLines(), Lines{"Command not allowed in firmware update mode"});
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(dlg_.Model().Selection(kSpeed), -1);
    EXPECT_EQ(dlg_.Model().Text(kConnect), "Disconnect");
}

TEST_F(UtilityDlgTest, ControlsRefusedWhenNotConnected) {
    Check(kStereo, true);
    EXPECT_EQ(TakeLines(), Lines{"Connect to Zuvo Box first!"});
    EXPECT_FALSE(dlg_.Model().Checked(kStereo));
    // Reset asks first, whatever the connection; Yes then meets the refusal.
    dialogs_.answerYes = true;
    dlg_.OnControlChanged(kReset);
    ASSERT_EQ(dialogs_.shown.size(), 1u);
    EXPECT_EQ(dialogs_.shown[0],
              "This will reset the Zuvo Box to the default values.\nThe Zuvo Box will "
              "disconnect during the reset\nAre you sure you want to do thi?");
    EXPECT_EQ(TakeLines(), Lines{"Connect to Zuvo Box first!"});
}

TEST_F(UtilityDlgTest, ResetSendsOnlyOnYes) {
    Connect();
    dialogs_.answerYes = false;
    dlg_.OnControlChanged(kReset);
    EXPECT_TRUE(Sent().empty());
    dialogs_.answerYes = true;
    dlg_.OnControlChanged(kReset);
    EXPECT_EQ(Sent(), (Sends{{3, 0x24}}));
}

TEST_F(UtilityDlgTest, CompBothWays) {
    Connect();
    Report(0x50, 0xC1);
    EXPECT_EQ(dlg_.Model().Get(kComp1).items[dlg_.Model().Selection(kComp1)], "-63");
    Report(0x51, 0x80);
    EXPECT_EQ(dlg_.Model().Get(kComp2).items[dlg_.Model().Selection(kComp2)], "0");
    Report(0x53, 0xBF);
    EXPECT_EQ(dlg_.Model().Get(kComp4).items[dlg_.Model().Selection(kComp4)], "+63");
    Select(kComp1, 0);
    Select(kComp2, 63);
    Select(kComp3, 126);
    EXPECT_EQ(Sent(), (Sends{{0x50, 0xC1}, {0x51, 0x80}, {0x52, 0xBF}}));
}

TEST_F(UtilityDlgTest, ListsThatShowNoEntry) {
    Connect();
    Report(0x20, 16);  // Aux with bit 4: the whole value is the index
    EXPECT_EQ(dlg_.Model().Selection(kAux1), -1);
    Report(0x21, 15);
    EXPECT_EQ(dlg_.Model().Selection(kAux2), 15);
    for (uint8_t mode : {5, 6, 7}) {
        Report(0x12, static_cast<uint8_t>(0xA8 | mode));  // PTT, A timing, reverse
        EXPECT_EQ(dlg_.Model().Selection(kKeyerType), -1);
        EXPECT_TRUE(dlg_.Model().Checked(kKeyerPtt));
        EXPECT_TRUE(dlg_.Model().Checked(kATiming));
        EXPECT_TRUE(dlg_.Model().Checked(kReverse));
        EXPECT_FALSE(dlg_.Model().Checked(kTightTiming));
    }
    Report(0x31, 0x13);
    EXPECT_EQ(dlg_.Model().Selection(kConfiguration), -1);
    EXPECT_TRUE(dlg_.Model().Checked(kMicRelays));
    Report(0x11, 1);  // below the speed list
    EXPECT_EQ(dlg_.Model().Selection(kSpeed), -1);
}

TEST_F(UtilityDlgTest, SendingUsesTheMirrors) {
    Connect();
    Report(0x12, 0x81);  // keyer config: ultimatic, keyer PTT
    Report(0x30, 0x09);  // TX 2, PTT
    Check(kTightTiming, true);
    Select(kKeyerType, 4);
    Check(kStereo, true);
    Check(kRxRadio2, true);
    Check(kTxRadio1, true);
    Select(kPotMin, 8);
    Select(kMap2, 3);
    Select(kAux3, 5);
    dlg_.Model().SetChecked(kUpdateAux, true);
    Select(kAux3, 5);
    Check(kEnableFsk, true);
    Check(kInvert2, true);
    EXPECT_EQ(Sent(), (Sends{{0x12, 0xC1},
                             {0x12, 0x84},
                             {0x30, 0x0D},
                             {0x30, 0x0B},
                             {0x30, 0x08},
                             {0x1E, 0x8A},
                             {0x35, 0x33},
                             {0x22, 0x05},
                             {0x22, 0x15},
                             {0x40, 0x10},
                             {0x40, 0x12}}));
}

TEST_F(UtilityDlgTest, VersionLinesAndUnknownReports) {
    Connect();
    Report(0, 0x12);
    Report(1, 3);
    Report(2, 0);
    Report(2, 5);
    Report(0x7F, 0xFF);
    Report(0x7F, 0x30);
    Report(0x80, 0x12);
    Report(0x41, 1);  // RTTY Status is not the utility's
    EXPECT_EQ(TakeLines(),
              (Lines{"Zuvo Box version 1.2-3", "Zuvo Box version 1.2-3(5)",
                     "Zuvo Box does not recognize command 0x30", "Unknown command 0x80, value 0x12",
                     "Unknown command 0x41, value 0x01"}));
    EXPECT_EQ(dlg_.FirmwareVersionLine(), "Firmware Version 1.2-3(5)");
    dlg_.OnControlChanged(kAbout);
    EXPECT_NE(dialogs_.shown.back().find("Firmware Version 1.2-3(5)"), std::string::npos);
    dlg_.OnControlChanged(kConnect);
    EXPECT_EQ(dlg_.FirmwareVersionLine(), "");
}

TEST_F(UtilityDlgTest, VerboseLines) {
    Connect();
    Check(kVerbose, true);
    Report(0x11, 0x41);
    Report(0x30, 0x7B);
    EXPECT_EQ(TakeLines(),
              (Lines{"* Received Keyer Speed 0x41('A')", "* Received Zuvo State 0x7b"}));
}

TEST_F(UtilityDlgTest, StatusTexts) {
    Connect();
    Report(0x30, 0x01);
    Report(0x32, 0x05);
    EXPECT_EQ(dlg_.Model().Text(kStatusRx), "RX1");
    EXPECT_EQ(dlg_.Model().Text(kStatusTx), "TX1 (Inhibit)");
    Report(0x32, 0x0A);
    EXPECT_EQ(dlg_.Model().Text(kStatusRx), "RX2");
    EXPECT_EQ(dlg_.Model().Text(kStatusTx), "TX2");
    Report(0x30, 0x08);
    EXPECT_EQ(dlg_.Model().Text(kStatusTx), "TX2 (Inhibit)");
    EXPECT_EQ(dlg_.Model().Text(kPtt), "Stop PTT");
    EXPECT_TRUE(dlg_.Model().Checked(kTxRadio1));
}

TEST_F(UtilityDlgTest, DeviceChangeLines) {
    Connect();
    dlg_.Dispatch({platform::kMsgDeviceChange, platform::kDeviceRemoveComplete, 0, "/dev/other"});
    EXPECT_TRUE(dlg_.Link().IsConnectedFlag());
    dlg_.Dispatch({platform::kMsgDeviceChange, platform::kDeviceArrival, 0, "/DEV/HIDRAW-BOX"});
    dlg_.Dispatch({platform::kMsgDeviceChange, platform::kDeviceArrival, 0, kBox});
    dlg_.Dispatch({platform::kMsgDeviceChange, platform::kDeviceRemoveComplete, 0, kBox});
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    EXPECT_EQ(TakeLines(), (Lines{"Device attached.", "Device removed."}));
}

TEST_F(UtilityDlgTest, WriteFailureAndReadError) {
    Connect();
    platform::SetLastError(5);  // stale: a good write logs nothing
    Select(kWeight, 128);
    EXPECT_EQ(TakeLines(), Lines{});
    hid_.DeviceAt(kBox).writeError = platform::kErrorAccessDenied;
    Select(kWeight, 100);
    const Lines lines = TakeLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("WriteFile: ", 0), 0u);
    EXPECT_GT(lines[0].size(), std::string("WriteFile: ").size());
    EXPECT_EQ(lines[1], "Can't write to device");
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());

    hid_.DeviceAt(kBox).writeError = 0;
    dlg_.OnControlChanged(kConnect);
    TakeLines();
    dlg_.Dispatch({platform::kMsgBoxReport,
                   platform::kErrorDeviceNotConnected,
                   0xFFFF,
                   {},
                   dlg_.Link().Generation()});
    EXPECT_FALSE(dlg_.Link().IsConnectedFlag());
    EXPECT_EQ(TakeLines(), Lines{});
}

TEST_F(UtilityDlgTest, ReportsArriveThroughTheReadThread) {
    Connect();
    hid_.PushReport(kBox, {0, 0x11, 25});
    platform::Message m;
    ASSERT_TRUE(queue_.Wait(m, std::chrono::seconds(5)));
    dlg_.Dispatch(m);
    EXPECT_EQ(dlg_.Model().Selection(kSpeed), 23);
}

}  // namespace
}  // namespace zuvo
