#include "link/report_handler.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"
#include "link/box_protocol.h"
#include "platform/fake/fake_hid.h"
#include "ui/main_ids.h"
#include "ui/main_window.h"

namespace zuvo {
namespace {

// Records, in order, every call the report handler makes into the reacting pieces.
class Recorder : public IKeyerReports,
                 public ISwitchingReports,
                 public IRttyReports,
                 public IBoxView {
  public:
    std::vector<std::string> calls;
    bool potHandled = true;

    void OnBoxKeyerControl() override { calls.push_back("KeyerControl"); }
    void OnBoxKeyerAbort(uint8_t v) override { calls.push_back("KeyerAbort " + Hex2(v)); }
    void OnBoxKeyerEvent(uint8_t v) override { calls.push_back("KeyerEvent " + Hex2(v)); }
    bool OnBoxPotSpeed(uint8_t v) override {
        calls.push_back("PotSpeed " + Hex2(v));
        return potHandled;
    }
    void OnBoxSendingChar(uint8_t v) override { calls.push_back("SendingChar " + Hex2(v)); }
    void CountBoxReply() override { calls.push_back("Count"); }
    void ProcessDeferredCommands() override { calls.push_back("Deferred"); }
    void OnSwitchingStateReport() override { calls.push_back("StateReport"); }
    void ReportSwitchingChanges() override { calls.push_back("SwitchingChanges"); }
    void CheckRttyStation() override { calls.push_back("CheckRtty"); }
    void OnRttyStatusReport(uint8_t v) override { calls.push_back("RttyStatus " + Hex2(v)); }
    void ShowSpeed() override { calls.push_back("ShowSpeed"); }
    void ShowSwitchingStatus() override { calls.push_back("ShowSwitching"); }
    void ShowTune(bool on) override { calls.push_back(on ? "Tune on" : "Tune off"); }
    void ShowAux(int n, uint8_t v) override {
        calls.push_back("Aux" + std::to_string(n) + " " + Hex2(v));
    }
    void SelectMap(int n, int index) override {
        calls.push_back("Map" + std::to_string(n) + " " + std::to_string(index));
    }
    void SelectPotMin(int index) override { calls.push_back("PotMin " + std::to_string(index)); }
    void Refresh() override { calls.push_back("Refresh"); }
};

class ReportHandlerTest : public ::testing::Test {
  protected:
    ReportHandlerTest() {
        platform::fake::FakeHidSystem::Device box;
        box.attributes.vendorId = 0x16C0;
        box.attributes.productId = 0x065E;
        hid.AddDevice("/dev/hidraw0", box);
    }
    void Connect() {
        link.FindBox();
        hid.ClearWritten("/dev/hidraw0");
        state.initialQuery = false;
    }
    void Report(uint8_t code, uint8_t value) { handler.HandleReport(box::ReportWord(code, value)); }

    platform::fake::FakeHidSystem hid;
    platform::MessageQueue queue;
    test::FakeEventLog log;
    test::FakeVerbose verbose;
    BoxState state;
    ILinkEvents events;
    Recorder rec;
    BoxLink link{hid, queue, log, state, events};
    ReportHandler handler{state, link, log, verbose, {rec, rec, rec, rec}};
};

TEST_F(ReportHandlerTest, VerboseLinesNameEveryHandledReport) {
    verbose.box = true;
    const std::pair<uint8_t, const char*> named[] = {
        {0x00, "* Received Query 0x12"},
        {0x0B, "* Received Debug 2 0x12"},
        {0x10, "* Received Keyer Status 0x12"},
        {0x19, "* Received PTT Pre-send time 0x12"},
        {0x1A, "* Received PTT Post-send time 0x12"},
        {0x22, "* Received Aux 3 0x12"},
        {0x35, "* Received Zuvo Map 2 0x12"},
        {0x41, "* Received RTTY Status 0x12"},
        {0x43, "* Received RTTY Character 0x12"},
        {0x54, "* Received Keyer Config2 0x12"},
    };
    for (const auto& [code, line] : named) {
        log.Clear();
        Report(code, 0x12);
        ASSERT_FALSE(log.lines.empty()) << line;
        EXPECT_EQ(log.lines[0], line);
    }
    log.Clear();
    Report(0x13, 0x41);
    EXPECT_EQ(log.lines[0], "* Received Keyer Char 0x41('A')");
}

TEST_F(ReportHandlerTest, WithVerboseOffOnlyConnectionAndFaultLinesAreWritten) {
    for (int code = 0; code < 256; ++code) {
        for (int value : {0x00, 0x05, 0x7F, 0xFF}) {
            Report(static_cast<uint8_t>(code), static_cast<uint8_t>(value));
        }
    }
    for (const std::string& line : log.lines) {
        const bool allowed = line.rfind("Connected to Zuvo Box version ", 0) == 0 ||
                             line.rfind("Unknown event ", 0) == 0 ||
                             line.rfind("Zuvo Box does not recognize command ", 0) == 0 ||
                             line.rfind("Unknown command ", 0) == 0 ||
                             line == "Zuvo Box is not connected";  // pot speed sends Keyer Speed
        EXPECT_TRUE(allowed) << line;
    }
}

TEST_F(ReportHandlerTest, ConnectionLineCarriesTheFirmwareVersion) {
    Report(0x00, 0x21);
    Report(0x01, 5);
    Report(0x02, 0);
    EXPECT_EQ(log.lines.back(), "Connected to Zuvo Box version 2.1-5");
    EXPECT_EQ(state.firmwareVersionText, "Firmware Version 2.1-5");
    Report(0x02, 7);
    EXPECT_EQ(log.lines.back(), "Connected to Zuvo Box version 2.1-5(7)");
    EXPECT_EQ(state.firmwareVersionText, "Firmware Version 2.1-5(7)");
}

TEST_F(ReportHandlerTest, UnknownAndUnrecognisedCodes) {
    Report(0x7F, 0xFF);
    EXPECT_TRUE(log.lines.empty());
    Report(0x7F, 0x30);
    EXPECT_EQ(log.lines.back(), "Zuvo Box does not recognize command 0x30");
    Report(0x80, 0x12);  // never masked to code 0
    EXPECT_EQ(log.lines.back(), "Unknown command 0x80, value 0x12");
    Report(0x50, 0xC1);  // Comp1 is the utility's
    EXPECT_EQ(log.lines.back(), "Unknown command 0x50, value 0xc1");
    Report(0x03, 0x24);
    EXPECT_EQ(log.lines.back(), "Unknown command 0x03, value 0x24");
}

TEST_F(ReportHandlerTest, UnknownEventIsLoggedAndStillPassedOn) {
    Report(0x17, 9);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Unknown event 0x09"});
    EXPECT_EQ(rec.calls, std::vector<std::string>{"KeyerEvent 0x09"});
}

TEST_F(ReportHandlerTest, KeyerEventsResetOffsetAndTuneBeforeTheKeyerHearsThem) {
    verbose.box = true;
    state.speedOffset = -3;
    state.tune = true;
    Report(0x17, 4);
    EXPECT_EQ(log.lines.back(), "*    Event: Paddle Pressed");
    EXPECT_FALSE(state.tune);
    EXPECT_EQ(state.speedOffset, 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"Tune off", "ShowSpeed", "KeyerEvent 0x04"}));
    state.speedOffset = 2;
    rec.calls.clear();
    Report(0x17, 2);
    EXPECT_EQ(state.speedOffset, 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"ShowSpeed", "KeyerEvent 0x02"}));
}

TEST_F(ReportHandlerTest, SendingCharIsHeldBackDuringTheConnectQuery) {
    state.initialQuery = true;
    Report(0x1D, 'C');
    EXPECT_TRUE(rec.calls.empty());
    Report(0x10, 0x10);  // Keyer Status ends the connect query
    EXPECT_FALSE(state.initialQuery);
    Report(0x1D, 'C');
    EXPECT_EQ(rec.calls, std::vector<std::string>{"SendingChar 0x43"});
}

TEST_F(ReportHandlerTest, PotSpeedNotTakenByTheKeyerSetsTheBoxSpeed) {
    Connect();
    rec.potHandled = false;
    Report(0x1C, 27);
    EXPECT_EQ(hid.Written("/dev/hidraw0"), (std::vector<std::vector<uint8_t>>{{0x00, 0x11, 27}}));
    rec.potHandled = true;
    Report(0x1C, 28);
    EXPECT_EQ(hid.Written("/dev/hidraw0").size(), 1u);
}

TEST_F(ReportHandlerTest, SwitchingReportsCountThenStoreThenForwardInOrder) {
    Report(0x30, 0x05);
    EXPECT_EQ(state.switchingState, 0x05);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"Count", "Deferred", "StateReport", "CheckRtty",
                                                   "ShowSwitching"}));
    rec.calls.clear();
    Report(0x32, 0x13);  // switches: no counters
    EXPECT_EQ(state.switchingSwitches, 0x13);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"SwitchingChanges", "ShowSwitching"}));
    rec.calls.clear();
    Report(0x21, 0x17);
    EXPECT_EQ(state.aux[1], 0x17);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"Count", "Deferred", "Aux2 0x17", "Refresh"}));
    rec.calls.clear();
    Report(0x34, 0x23);
    EXPECT_EQ(state.map[0], 0x23);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"Count", "Deferred", "Map1 3"}));
    rec.calls.clear();
    Report(0x33, 200);  // blend: counted, but no box state field
    EXPECT_EQ(rec.calls.front(), "Count");
}

TEST_F(ReportHandlerTest, AbortAndControlUpdateTuneAndForward) {
    Report(0x16, 0x0A);
    EXPECT_TRUE(state.tune);
    EXPECT_EQ(state.keyerControl, 0x0A);
    EXPECT_EQ(rec.calls,
              (std::vector<std::string>{"Tune on", "KeyerControl", "ShowSpeed", "Refresh"}));
    rec.calls.clear();
    state.speedOffset = 4;
    Report(0x15, 0x06);
    EXPECT_FALSE(state.tune);
    EXPECT_EQ(state.speedOffset, 0);
    EXPECT_EQ(rec.calls, (std::vector<std::string>{"Tune off", "KeyerAbort 0x06", "ShowSpeed"}));
}

// The keyer emulation takes the pot reports while the logger is on the port, so no Keyer
// Speed follows them; the Speed text must show the pot all the same while the box keys at it.
TEST_F(ReportHandlerTest, SpeedTextShowsThePotWhileTheBoxFollowsIt) {
    MainWindow window(state);
    ReportHandler shown{state, link, log, verbose, {rec, rec, rec, window}};
    const auto report = [&](uint8_t code, uint8_t value) {
        shown.HandleReport(box::ReportWord(code, value));
        return window.Model().Text(ids::kSpeedText);
    };
    EXPECT_EQ(report(box::kKeyerSpeed, 20), "20 WPM");
    EXPECT_EQ(report(box::kKeyerControl, box::kControlBitPot), "20 WPM");  // pot not heard yet
    EXPECT_EQ(report(box::kKeyerPotSpeed, 30), "30 WPM");
    EXPECT_EQ(report(box::kKeyerSpeedDelta, 0xFE), "30 -2 WPM");
    EXPECT_EQ(report(box::kKeyerControl, 0x00), "20 -2 WPM");  // the host's speed again
    EXPECT_EQ(report(box::kKeyerPotSpeed, 35), "20 -2 WPM");
}

TEST_F(ReportHandlerTest, SpeedDeltaIsSigned) {
    Report(0x18, 0xFB);
    EXPECT_EQ(state.speedOffset, -5);
}

TEST_F(ReportHandlerTest, PotMinBelowTheListLeavesNoSelection) {
    Report(0x1E, 1);
    EXPECT_EQ(rec.calls.front(), "PotMin -1");
}

TEST_F(ReportHandlerTest, ReadErrorMessageGoesToTheLink) {
    Connect();
    log.Clear();
    handler.OnBoxReportMessage(platform::kErrorDeviceNotConnected, 0xFFFF, 1);
    EXPECT_FALSE(link.IsConnectedFlag());
    EXPECT_EQ(log.lines, std::vector<std::string>{"Zuvo Box has been disconnected"});
}

}  // namespace
}  // namespace zuvo
