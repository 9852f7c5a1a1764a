#include "ui/main_controls.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/fakes.h"
#include "link/box_protocol.h"
#include "platform/fake/fake_host_port.h"
#include "switching/otrsp_interpreter.h"
#include "switching/otrsp_test_support.h"
#include "ui/main_ids.h"
#include "ui/main_window.h"

namespace zuvo {
namespace {

using namespace ids;

class RecordingActions : public IWindowActions {
  public:
    std::vector<std::string> calls;
    bool keyerOpen = false;
    bool switchingOpen = false;
    bool failOpens = false;
    MainControls* controls = nullptr;  // told about failed opens, like the host ports do
    bool pipeMode = false;

    void SetHeadphoneMode(int i) override { calls.push_back("Phones " + std::to_string(i)); }
    void SetBlendOn(bool on) override { calls.push_back(on ? "Blend on" : "Blend off"); }
    void SetMicRelays(bool on) override { calls.push_back(on ? "Mic on" : "Mic off"); }
    void SetBlendLevel(int i) override { calls.push_back("Blend " + std::to_string(i)); }
    void SetMapIndex(int n, int i) override {
        calls.push_back("Map" + std::to_string(n) + " " + std::to_string(i));
    }
    void SetLatchHeadphones(bool on) override { calls.push_back(on ? "Latch on" : "Latch off"); }
    void SetSplitStereo(bool on) override { calls.push_back(on ? "Split on" : "Split off"); }
    void ApplyKeyerConfig() override { calls.push_back("ApplyKeyerConfig"); }
    bool IsHostPortOpen(HostPortKind p) const override {
        return p == HostPortKind::kKeyer ? keyerOpen : switchingOpen;
    }
    void OpenHostPort(HostPortKind p) override {
        const bool keyer = p == HostPortKind::kKeyer;
        calls.push_back(keyer ? "Open keyer" : "Open switching");
        bool& open = keyer ? keyerOpen : switchingOpen;
        EXPECT_FALSE(open) << "opened twice";
        if (failOpens) {
            controls->OnPortOpenFailed(p, pipeMode);
            return;
        }
        open = true;
    }
    void CloseHostPort(HostPortKind p) override {
        const bool keyer = p == HostPortKind::kKeyer;
        calls.push_back(keyer ? "Close keyer" : "Close switching");
        (keyer ? keyerOpen : switchingOpen) = false;
    }
    void SetPipeMode(bool on) override {
        pipeMode = on;
        calls.push_back(on ? "Pipe mode" : "COM mode");
    }
};

class RecordingPoster : public platform::IMessagePoster {
  public:
    std::vector<platform::Message> messages;
    void Post(platform::Message m) override { messages.push_back(std::move(m)); }
    std::string Text() const {
        std::string s;
        for (const auto& m : messages) {
            EXPECT_EQ(m.id, platform::kMsgSwitchingPortByte);
            s += static_cast<char>(m.lParam);
        }
        return s;
    }
};

class MainControlsTest : public ::testing::Test {
  protected:
    MainControlsTest() {
        actions.controls = &controls;
        window.SetSwitchingShownHook([this] { controls.SyncManualSwitching(); });
    }
    // What the front end does for a user change: the model first, then the call.
    void Check(int id, bool on) {
        window.Model().SetChecked(id, on);
        controls.OnControlChanged(id);
    }
    void Select(int id, int index) {
        window.Model().SetSelection(id, index);
        controls.OnControlChanged(id);
    }
    std::string Setting(const std::string& key) { return profile.values[key]; }

    BoxState state;
    MainWindow window{state};
    test::FakeEventLog log;
    test::FakeBoxSender sender{&log};
    test::MapProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    RecordingPoster poster;
    RecordingActions actions;
    int enables = 0;
    platform::fake::FakeHostPortSystem ports;
    MainControls controls{{window.Model(), state, sender, settings, ports, poster, actions, [this] {
                               ++enables;
                               window.EnableBoxControls();
                           }}};
};

using Sent = std::vector<std::pair<uint8_t, uint8_t>>;

TEST_F(MainControlsTest, KeyerControlsSendFromTheBoxStateAndLeaveTheWindowToTheEcho) {
    state.keyerConfig = 0x41;  // tight timing, mode 1
    state.keyerConfig2 = 0x00;
    Check(kModeDah, true);
    Check(kModeIambic, false);  // a button losing its check asks for nothing
    Check(kATiming, true);
    Check(kTightTiming, false);
    Check(kKeyerPtt, true);
    Check(kReverse, true);
    Check(kLongWordSpace, true);
    Check(kAutospace, true);
    Select(kWeightList, 50);
    Select(kPttPreList, 255);
    Select(kPttPostList, 0);
    Select(kPotMinList, 5);
    Select(kPotMaxList, 97);
    Select(kWeightList, -1);  // no selection sends nothing
    EXPECT_EQ(sender.sent, (Sent{{box::kKeyerConfig, 0x43},
                                 {box::kKeyerConfig, 0x61},
                                 {box::kKeyerConfig, 0x01},
                                 {box::kKeyerConfig, 0xC1},
                                 {box::kKeyerConfig, 0x49},
                                 {box::kKeyerConfig, 0x51},
                                 {box::kKeyerConfig2, 0x01},
                                 {box::kKeyerWeight, 50},
                                 {box::kPttPreSend, 255},
                                 {box::kPttPostSend, 0},
                                 {box::kKeyerPotMin, 7},
                                 {box::kKeyerPotMax, 99}}));
    EXPECT_EQ(state.keyerConfig, 0x41);
}

TEST_F(MainControlsTest, HeadphoneControlsGoToTheSwitchingLogicAndOptionsPersist) {
    Check(kPhonesSymmetric, true);
    Check(kPhonesNormal, false);
    Check(kBlend, true);
    Check(kMicRelays, false);
    Select(kBlendList, 200);
    Select(kMap1List, 3);
    Select(kMap2List, 0);
    Check(kLatch, true);
    Check(kSplitStereo, false);
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"Phones 1", "Blend on", "Mic off", "Blend 200", "Map1 3",
                                        "Map2 0", "Latch on", "Split off"}));
    Check(kVerboseOutput, true);
    Check(kVerboseKeyer, true);
    Check(kVerboseZuvo, false);
    Check(kVerboseRtty, true);
    Check(kSmartEditing, true);
    EXPECT_EQ(Setting("Box/Verbose"), "TRUE");
    EXPECT_EQ(Setting("Keyer/Verbose"), "TRUE");
    EXPECT_EQ(Setting("Zuvo/Verbose"), "FALSE");
    EXPECT_EQ(Setting("RTTY/Verbose"), "TRUE");
    EXPECT_EQ(Setting("Keyer/SmartEditing"), "TRUE");
    EXPECT_TRUE(window.IsVerbose(Verbose::kRtty));
    EXPECT_FALSE(window.IsVerbose(Verbose::kZuvo));
}

TEST_F(MainControlsTest, LoggerControlsKeyerLeavesOnlyTightTimingAndKeyerPttEnabled) {
    window.EnableBoxControls();
    Check(kLoggerControls, true);
    const WindowModel& m = window.Model();
    for (int id : {kModeIambic, kModeUltimatic, kModeDit, kModeDah, kModeStraight, kWeightList,
                   kPttPreList, kPttPostList, kPotMinList, kPotMaxList, kWeightLabel, kPotMaxLabel,
                   kLongWordSpace, kReverse, kATiming, kAutospace}) {
        EXPECT_FALSE(m.Enabled(id)) << id;
    }
    for (int id : {kTightTiming, kKeyerPtt, kBlendList, kMap1List, kPhonesSpatial, kMicRelays}) {
        EXPECT_TRUE(m.Enabled(id)) << id;
    }
    EXPECT_EQ(Setting("Keyer/LoggerControls"), "TRUE");
    EXPECT_EQ(actions.calls, std::vector<std::string>{"ApplyKeyerConfig"});

    Check(kLoggerControls, false);
    EXPECT_TRUE(m.Enabled(kWeightList));
    EXPECT_TRUE(m.Enabled(kModeDah));
    EXPECT_EQ(actions.calls.size(), 1u);  // unchecking applies nothing

    // Without a box the check box only persists: the disconnected look stays.
    sender.connected = false;
    window.ResetBoxView();
    enables = 0;
    Check(kLoggerControls, true);
    EXPECT_EQ(enables, 0);
    EXPECT_FALSE(m.Enabled(kTightTiming));
}

TEST_F(MainControlsTest, PortCheckBoxesAndPipesExcludeEachOtherThroughEnabling) {
    WindowModel& m = window.Model();
    Check(kKeyerPortCheck, true);
    EXPECT_FALSE(m.Enabled(kPipes));
    Check(kZuvoPortCheck, true);
    Check(kKeyerPortCheck, false);
    EXPECT_FALSE(m.Enabled(kPipes));  // "Zuvo" still asks for its COM port
    Check(kZuvoPortCheck, false);
    EXPECT_TRUE(m.Enabled(kPipes));
    EXPECT_EQ(actions.calls, (std::vector<std::string>{"Open keyer", "Open switching",
                                                       "Close keyer", "Close switching"}));
    EXPECT_EQ(Setting("Keyer/UsePort"), "FALSE");
    EXPECT_EQ(Setting("Zuvo/UsePort"), "FALSE");

    // A new COM port reopens only a port that is open; the index is saved either way.
    actions.calls.clear();
    Select(kKeyerPortList, 4);
    Check(kZuvoPortCheck, true);
    Select(kZuvoPortList, 2);
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"Open switching", "Close switching", "Open switching"}));
    EXPECT_EQ(Setting("Keyer/Port"), "4");
    EXPECT_EQ(Setting("Zuvo/Port"), "2");
}

TEST_F(MainControlsTest, PipesToggledRepeatedlyNeverOpensAPortTwice) {
    WindowModel& m = window.Model();
    Check(kKeyerPortCheck, true);
    Check(kKeyerPortCheck, false);
    for (int i = 0; i < 3; ++i) {
        Check(kPipes, true);
        EXPECT_TRUE(actions.keyerOpen && actions.switchingOpen);
        for (int id : {kKeyerPortCheck, kZuvoPortCheck, kKeyerPortList, kZuvoPortList}) {
            EXPECT_FALSE(m.Enabled(id));
        }
        EXPECT_EQ(Setting("Zuvo/Auto"), "TRUE");
        Check(kPipes, false);
        EXPECT_FALSE(actions.keyerOpen || actions.switchingOpen);
        EXPECT_TRUE(m.Enabled(kZuvoPortCheck));
        EXPECT_EQ(Setting("Zuvo/Auto"), "FALSE");
    }
    // Unchecking "Pipes" leaves COM ports closed even when their boxes are checked.
    m.SetChecked(kKeyerPortCheck, true);
    Check(kPipes, true);
    actions.calls.clear();
    Check(kPipes, false);
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"COM mode", "Close keyer", "Close switching"}));
}

TEST_F(MainControlsTest, AFailedOpenUnchecksTheBoxThatAskedForIt) {
    WindowModel& m = window.Model();
    actions.failOpens = true;
    Check(kZuvoPortCheck, true);
    EXPECT_FALSE(m.Checked(kZuvoPortCheck));
    EXPECT_TRUE(m.Enabled(kPipes));  // nothing is asking for a COM port any more
    Check(kPipes, true);
    EXPECT_FALSE(m.Checked(kPipes));
    EXPECT_FALSE(m.Enabled(kKeyerPortCheck));  // the pipe mode flag stays set
}

TEST_F(MainControlsTest, StartupWithPipesSavedServesBothPipesAndKeepsTheComSelections) {
    WindowModel& m = window.Model();
    m.SetChecked(kPipes, true);
    m.SetChecked(kKeyerPortCheck, true);
    m.SetSelection(kKeyerPortList, 2);
    m.SetSelection(kZuvoPortList, 5);
    controls.OpenPortsAtStartup();
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"Pipe mode", "Open switching", "Open keyer"}));
    for (int id : {kKeyerPortCheck, kZuvoPortCheck, kKeyerPortList, kZuvoPortList}) {
        EXPECT_FALSE(m.Enabled(id));
    }
    EXPECT_EQ(m.Selection(kKeyerPortList), 2);
    EXPECT_EQ(m.Selection(kZuvoPortList), 5);
    EXPECT_FALSE(m.Visible(kTx1));  // the switching port is served: no manual switching
}

TEST_F(MainControlsTest, StartupWithComPortsOpensTheCheckedOnesSwitchingFirst) {
    WindowModel& m = window.Model();
    m.SetChecked(kKeyerPortCheck, true);
    m.SetChecked(kZuvoPortCheck, true);
    controls.OpenPortsAtStartup();
    EXPECT_EQ(actions.calls,
              (std::vector<std::string>{"COM mode", "Open switching", "Open keyer"}));
    EXPECT_FALSE(m.Enabled(kPipes));
}

TEST_F(MainControlsTest, ManualSwitchingPostsTheLinesALoggerWouldSend) {
    Check(kTx2, true);
    EXPECT_FALSE(window.Model().Checked(kTx1));
    Check(kRx2, true);
    Check(kStereo, true);
    Check(kRx1, true);
    Check(kStereo, false);
    EXPECT_EQ(poster.Text(), "TX2\rRX2\rRX2S\rRX1S\rRX1\r");

    // An open switching port hides them and the box no longer drives them.
    Check(kZuvoPortCheck, true);
    EXPECT_FALSE(window.Model().Visible(kRx1));
    poster.messages.clear();
    state.switchingSwitches = box::kSwitchTx2;
    window.ShowSwitchingStatus();
    EXPECT_TRUE(poster.messages.empty());
    // Closing shows them again, in line with the box.
    Check(kZuvoPortCheck, false);
    EXPECT_TRUE(window.Model().Visible(kRx1));
    EXPECT_TRUE(window.Model().Checked(kTx2));
    EXPECT_EQ(poster.Text(), "TX2\r");
}

// The switching logic and the box's echo around the window: the lines the window posts
// run through the OTRSP interpreter, every Zuvo State it sends comes back as the reported
// state, and the window sees each report.
class FrontPanelLoop : public MainControlsTest {
  protected:
    OtrspInterpreter otrsp{{sender, state, log, verbose, settings, rtty, port, switchingWindow}};
    test::FakeVerbose verbose;
    test::FakeRttySpeedBits rtty;
    test::FakeSwitchingPort port;
    test::FakeSwitchingWindow switchingWindow;

    // Runs reports until nothing more is posted; returns the Zuvo State values sent.
    std::vector<uint8_t> Run(int maxReports = 20) {
        std::vector<uint8_t> states;
        if (poster.messages.empty()) {
            window.ShowSwitchingStatus();
        }
        for (int i = 0; i < maxReports && !poster.messages.empty(); ++i) {
            auto posted = std::move(poster.messages);
            poster.messages.clear();
            sender.Clear();
            for (const auto& m : posted) {
                otrsp.OnSwitchingPortByte(m.wParam, m.lParam);
            }
            for (const auto& [code, value] : sender.sent) {
                if (code == box::kZuvoState) {
                    states.push_back(value);
                    state.switchingState = value;  // the box's echo
                }
            }
            window.ShowSwitchingStatus();
        }
        EXPECT_TRUE(poster.messages.empty()) << "still posting: " << poster.Text();
        return states;
    }
};

TEST_F(FrontPanelLoop, ForcedTxToRadio2PostsTx2AndSendsZuvoStateWithBit0) {
    state.switchingState = 0x00;
    state.switchingSwitches = box::kSwitchTx2;
    window.ShowSwitchingStatus();
    EXPECT_EQ(poster.Text(), "TX2\r");
    EXPECT_TRUE(window.Model().Checked(kTx2));
    EXPECT_FALSE(window.Model().Checked(kTx1));
    EXPECT_EQ(Run(), std::vector<uint8_t>{0x01});
}

TEST_F(FrontPanelLoop, OrdinaryForcedReceiveRadiosFollowTheFrontPanel) {
    state.switchingState = box::kStateRxRadio2 | box::kStateStereo;
    state.switchingSwitches = box::kSwitchRx1;
    EXPECT_EQ(Run(), std::vector<uint8_t>{0x00});
    EXPECT_TRUE(window.Model().Checked(kRx1));
    EXPECT_FALSE(window.Model().Checked(kStereo));

    state.switchingSwitches = box::kSwitchRx2;
    EXPECT_EQ(Run(), std::vector<uint8_t>{box::kStateRxRadio2});
    EXPECT_TRUE(window.Model().Checked(kRx2));

    state.switchingSwitches = 0;  // released: the controls just mirror the box
    EXPECT_TRUE(Run().empty());
    EXPECT_TRUE(window.Model().Checked(kRx2));
}

TEST_F(FrontPanelLoop, SplitStereoWithForcedRadiosSendsOneZuvoStateAndThenStaysQuiet) {
    otrsp.SetSplitStereo(true);
    window.Model().SetChecked(kSplitStereo, true);
    state.switchingState = 0x00;
    state.switchingSwitches = box::kSwitchRx1 | box::kSwitchTx2;
    // TX2 with RX1 is split: the switching logic adds stereo, and the box reports it.
    EXPECT_EQ(Run(), std::vector<uint8_t>{box::kStateTxRadio2 | box::kStateStereo});
    // Many more reports of the same state post nothing.
    for (int i = 0; i < 100; ++i) {
        window.ShowSwitchingStatus();
    }
    EXPECT_TRUE(poster.messages.empty());
}

TEST_F(FrontPanelLoop, SplitStereoWithReceiveForcedToRadio2SendsOneZuvoState) {
    otrsp.SetSplitStereo(true);
    window.Model().SetChecked(kSplitStereo, true);
    state.switchingSwitches = box::kSwitchRx2 | box::kSwitchTx1;
    EXPECT_EQ(Run(), std::vector<uint8_t>{box::kStateRxRadio2 | box::kStateStereo});
    EXPECT_TRUE(window.Model().Checked(kStereo));  // the box reports stereo, so it shows
}

}  // namespace
}  // namespace zuvo
