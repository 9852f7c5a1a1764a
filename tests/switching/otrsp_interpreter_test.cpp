#include "switching/otrsp_interpreter.h"

#include <gtest/gtest.h>

#include "fakes/fakes.h"
#include "link/box_protocol.h"
#include "switching/manual_switching.h"
#include "switching/otrsp_test_support.h"

namespace zuvo {
namespace {

using Sent = std::vector<std::pair<uint8_t, uint8_t>>;

class OtrspTest : public ::testing::Test {
  protected:
    OtrspTest()
        : settings(profile, "test.ini"),
          sender(&log),
          otrsp(OtrspInterpreter::Deps{sender, state, log, verbose, settings, rtty, port, window}) {
    }

    void Line(const std::string& text) {
        for (char c : text) {
            otrsp.OnSwitchingPortByte(0, static_cast<signed char>(c));
        }
        otrsp.OnSwitchingPortByte(0, '\r');
    }

    // What the report handler does with one counted switching report.
    void Reply(uint8_t code, uint8_t value) {
        otrsp.CountBoxReply();
        switch (code) {
            case box::kZuvoState:
                state.switchingState = value;
                break;
            case box::kZuvoConfig:
                state.switchingConfig = value;
                break;
            case box::kZuvoMap1:
                state.map[0] = value;
                break;
            case box::kZuvoMap2:
                state.map[1] = value;
                break;
            case box::kAux1:
            case box::kAux2:
            case box::kAux3:
            case box::kAux4:
                state.aux[code - box::kAux1] = value;
                break;
            default:
                break;
        }
        otrsp.ProcessDeferredCommands();
        if (code == box::kZuvoState) {
            otrsp.OnSwitchingStateReport();
        }
    }

    // The box echoes every counted command sent since the last call.
    void EchoAll() {
        while (echoed < sender.sent.size()) {
            const auto [code, value] = sender.sent[echoed++];
            if (code != box::kQuery) {
                Reply(code, value);
            }
        }
    }

    void Switches(uint8_t w) {
        state.switchingSwitches = w;
        otrsp.ReportSwitchingChanges();
    }

    test::MapProfile profile;
    SettingsStore settings;
    test::FakeEventLog log;
    test::FakeVerbose verbose;
    test::FakeBoxSender sender;
    BoxState state;
    test::FakeRttySpeedBits rtty;
    test::FakeSwitchingPort port;
    test::FakeSwitchingWindow window;
    OtrspInterpreter otrsp;
    size_t echoed = 0;
};

TEST_F(OtrspTest, Rx1sSendsStereoStateAndQueryWaitsForTheEcho) {
    Line("RX1S");
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x04}}));
    Line("?RX");
    EXPECT_TRUE(port.writes.empty());  // the state is not yet confirmed
    EXPECT_EQ(otrsp.QueuedCount(), 1u);
    EchoAll();
    EXPECT_EQ(port.writes, (std::vector<std::string>{"RX1S\r"}));
    EXPECT_EQ(otrsp.PendingReplies(), 0);
}

TEST_F(OtrspTest, SplitStereoFollowsTxAndRxButNotReverse) {
    otrsp.SetSplitStereo(true);
    Line("TX1");
    Line("RX2");
    Line("RX2R");
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x00}, {0x30, 0x06}, {0x30, 0x12}}));
    EXPECT_EQ(rtty.sends, 1);
    EXPECT_EQ(profile.values["Zuvo/SplitStereo"], "TRUE");
}

TEST_F(OtrspTest, ReverseIsReportedAsRx2R) {
    Line("RX1R");
    EchoAll();
    Line("?RX");
    Line("ERX1");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"RX2R\r", "$", "RX2R\r"}));
}

TEST_F(OtrspTest, AuxAndMapNumbers) {
    Line("AUX1");
    Line("AUX1 12");
    Line("AUX2-1");
    Line("AUX3 +7x");
    Line("AUX4 -");
    Line("MAP10");
    Line("MAP2 2");
    EXPECT_EQ(sender.sent, (Sent{{0x20, 0x10},
                                 {0x20, 0x1C},
                                 {0x21, 0x1F},
                                 {0x22, 0x17},
                                 {0x23, 0x10},
                                 {0x34, 0x23},
                                 {0x35, 0x21}}));
    EchoAll();
    port.writes.clear();
    Line("?AUX1");
    Line("?MAP1");
    Line("?MAP2");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"AUX112\r", "MAP14\r", "MAP22\r"}));
}

TEST_F(OtrspTest, NumberReadingLikeTheStandardConversion) {
    EXPECT_EQ(OtrspNumber(""), 0);
    EXPECT_EQ(OtrspNumber("  \t-12abc"), -12);
    EXPECT_EQ(OtrspNumber("+3"), 3);
    EXPECT_EQ(OtrspNumber("- 3"), 0);
    EXPECT_EQ(OtrspNumber("99999999999999999999"), INT_MAX);
    EXPECT_EQ(OtrspNumber("-99999999999999999999"), INT_MIN);
}

TEST_F(OtrspTest, UnmatchedQueryIsEchoedInTwoWrites) {
    Line("?FOO");
    Line("?rx");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"?FOO", "\r", "?rx", "\r"}));
}

TEST_F(OtrspTest, QueryReplies) {
    state.switchingSwitches = box::kSwitchPttInput;
    Line("BAND1 14");
    Line("MODE2CW");
    Line("?BAND1");
    Line("?BAND2");
    Line("?MODE2");
    Line("?CR0");
    Line("?NAME");
    Line("?X");
    Line("?ETX");
    Line("?VPHONE");
    Line("?VBVAL");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"BAND1 14\r", "BAND2\r", "MODE2CW\r", "CR01\r",
                                                     "NAMEQarn Zuvo Box (plus)\r", "X0\r", "ETX0\r",
                                                     "VPHONE0\r", "VBVAL0\r"}));
}

TEST_F(OtrspTest, BadLinesMatchNothing) {
    Line("rx2");                    // lower case
    Line(std::string("\0RX2", 4));  // a NUL ends the line at once
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(OtrspTest, CrLfAndLfEndALineLikeCrAndEmptyLinesDoNothing) {
    verbose.zuvo = true;
    for (char c : std::string("TX2\r\nTX1\r\n?TX\r\nRX2\n\n\r?NAME\n")) {
        otrsp.OnSwitchingPortByte(0, c);
        EchoAll();
    }
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x01}, {0x30, 0x00}, {0x30, 0x02}}));
    EXPECT_EQ(port.writes, (std::vector<std::string>{"TX1\r", "NAMEQarn Zuvo Box (plus)\r"}));
    EXPECT_EQ(log.lines.size(), 5u);  // one "* Got SE command" line per line with text
}

TEST_F(OtrspTest, LongLineKeepsItsFirst64Characters) {
    Line("BAND1" + std::string(65, 'a'));
    Line("?BAND1");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"BAND1" + std::string(59, 'a') + "\r"}));
}

TEST_F(OtrspTest, EightBitBytesArriveSignExtended) {
    Line("BAND2");
    otrsp.OnSwitchingPortByte(0, 'B');
    otrsp.OnSwitchingPortByte(0, 'A');
    otrsp.OnSwitchingPortByte(0, 'N');
    otrsp.OnSwitchingPortByte(0, 'D');
    otrsp.OnSwitchingPortByte(0, '2');
    otrsp.OnSwitchingPortByte(0, -23);     // 0xE9
    otrsp.OnSwitchingPortByte(0, 0xFFFF);  // carries nothing
    otrsp.OnSwitchingPortByte(0, '\r');
    Line("?BAND2");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"BAND2\xE9\r"}));
}

TEST_F(OtrspTest, ShortRxLineNeverReadsAnEarlierLine) {
    Line("RX1S");
    Line("RX");
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x04}, {0x30, 0x00}}));
}

TEST_F(OtrspTest, VphoneOutOfRangeChangesNothing) {
    Line("VPHONE3");
    Line("VPHONE-1");
    Line("VPHONE 2");
    Line("VBLEND1");
    Line("VBVAL300");
    EXPECT_EQ(sender.sent, (Sent{{0x31, 0x02}, {0x31, 0x0A}, {0x33, 300 & 0xFF}}));
}

TEST_F(OtrspTest, OptionsPersistAndSetTheCheckBoxes) {
    Line("VLATCH1");
    Line("VSPLITSTEREO1");
    EXPECT_EQ(window.latchChecks, 1);
    EXPECT_EQ(window.splitChecks, 1);
    EXPECT_EQ(profile.values["Zuvo/LatchHeadphones"], "TRUE");
    Line("?VLATCH");
    Line("?VSPLITSTEREO");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"VLATCH1\r", "VSPLITSTEREO1\r"}));
    window.latchChecks = -1;
    Line("VLATCH1");  // unchanged: nothing written, no check box call
    EXPECT_EQ(window.latchChecks, -1);
}

TEST_F(OtrspTest, LatchWithPtt) {
    otrsp.SetLatchHeadphones(true);
    Line("TX1");  // not latched: plain state
    EchoAll();
    Line("X1");  // PTT on: receive flipped to radio 2
    EXPECT_EQ(otrsp.LatchReasons(), kLatchPtt);
    Line("RX1S");  // remembered, not sent
    Line("X0");    // latch ends: the requested state goes out
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x00}, {0x30, 0x0A}, {0x30, 0x04}}));
    EXPECT_EQ(otrsp.LatchReasons(), 0);
}

TEST_F(OtrspTest, TxDuringLatchSendsTheLatchedForm) {
    otrsp.SetLatchHeadphones(true);
    otrsp.SetSplitStereo(true);
    otrsp.BeginHeadphoneLatch(kLatchKeyer);
    Line("TX2");
    // Latch: RX2 flipped from TX1 -> sent 0x06; TX2 during the latch: receive on radio 1.
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x06}, {0x30, 0x01}}));
    EXPECT_EQ(otrsp.RequestedState() & 0x04, 0x04);
    otrsp.EndHeadphoneLatch(kLatchPtt);  // not the active reason
    EXPECT_EQ(sender.sent.size(), 2u);
    otrsp.EndHeadphoneLatch(3);
    EXPECT_EQ(sender.sent.back(), (std::pair<uint8_t, uint8_t>{0x30, 0x05}));
}

TEST_F(OtrspTest, ComModeCtsGivesPttAndXIsIgnored) {
    port.pipeMode = false;
    verbose.zuvo = true;
    port.modemStatus = kModemCtsOn;
    otrsp.OnModemStatus(kCommEventDsr);  // no CTS event: nothing
    EXPECT_TRUE(sender.sent.empty());
    otrsp.OnModemStatus(kCommEventCts | kCommEventRxChar);
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x08}}));
    EXPECT_TRUE(log.Contains("* Got SE PTT  0x01"));
    EchoAll();
    Line("X0");
    Line("?X");
    EXPECT_EQ(sender.sent.size(), 1u);
    EXPECT_EQ(port.writes, (std::vector<std::string>{"?X\r"}));
    port.modemOk = false;
    otrsp.OnModemStatus(kCommEventCts);
    EXPECT_EQ(sender.sent.size(), 1u);
}

TEST_F(OtrspTest, PipeClientLossDropsPortPtt) {
    Line("X1");
    EchoAll();
    Line("?X");
    otrsp.OnModemStatus(8);
    EchoAll();
    Line("?X");
    EXPECT_EQ(port.writes, (std::vector<std::string>{"X1\r", "X0\r"}));
    EXPECT_EQ(sender.sent.back(), (std::pair<uint8_t, uint8_t>{0x30, 0x00}));
}

// A pipe client run under zuvobox-run keys PTT with its RTS as a COM port's CTS does, and
// its line in progress is kept: only a lost client's half line is dropped.
TEST_F(OtrspTest, PipeClientRtsKeysPttAndKeepsTheLineInProgress) {
    verbose.zuvo = true;
    otrsp.OnSwitchingPortByte(0, '?');
    port.modemStatus = kModemCtsOn;
    otrsp.OnModemStatus(kCommEventCts | kCommEventClientLines);
    EXPECT_TRUE(log.Contains("* Got SE PTT  0x01"));
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x08}}));
    EchoAll();
    for (char c : std::string("X\r")) {
        otrsp.OnSwitchingPortByte(0, c);
    }
    port.modemStatus = 0;
    otrsp.OnModemStatus(kCommEventCts | kCommEventClientLines);
    EXPECT_EQ(sender.sent.back(), (std::pair<uint8_t, uint8_t>{0x30, 0x00}));
    EXPECT_EQ(port.writes, (std::vector<std::string>{"X1\r"}));
}

TEST_F(OtrspTest, LoggerLeavingMidLineLeavesNothingForTheNextOne) {
    for (char c : std::string("RX")) {
        otrsp.OnSwitchingPortByte(0, c);
    }
    otrsp.OnSwitchingPortByte(platform::kErrorBrokenPipe, 0xFFFF);
    otrsp.OnModemStatus(8);  // pipe client lost
    EchoAll();
    sender.Clear();
    echoed = 0;
    Line("TX2");
    EXPECT_EQ(sender.sent, (Sent{{0x30, 0x01}}));
}

TEST_F(OtrspTest, ReadErrors) {
    otrsp.OnSwitchingPortByte(platform::kErrorBrokenPipe, 0xFFFF);
    EXPECT_TRUE(log.lines.empty());
    verbose.zuvo = true;
    otrsp.OnSwitchingPortByte(platform::kErrorBrokenPipe, 0xFFFF);
    EXPECT_TRUE(log.Contains("SE Read Thread: "));
    log.Clear();
    verbose.zuvo = false;
    Line("RX");  // the buffer is untouched by errors
    otrsp.OnSwitchingPortByte(platform::FromErrno(5), 0xFFFF);
    EXPECT_EQ(log.lines.size(), 2u);
}

TEST_F(OtrspTest, QueuedLinesKeepTheirOrderAndRunOnTheirOwnCopy) {
    Line("TX2");
    Line("AUX1 3");  // runs at once even while replies are pending
    Line("?TX");
    Line("ETX1");
    Line("BAND1 7");
    Line("?BAND1");
    EXPECT_EQ(otrsp.QueuedCount(), 4u);
    EXPECT_EQ(sender.sent.size(), 2u);
    for (char c : std::string("BAND1 x")) {  // half a line in the buffer meanwhile
        otrsp.OnSwitchingPortByte(0, c);
    }
    EchoAll();
    EXPECT_EQ(port.writes, (std::vector<std::string>{"TX2\r", "$", "TX2\r", "BAND1 7\r"}));
}

TEST_F(OtrspTest, UnansweredCommandHoldsTheQueueUntilDisconnect) {
    Line("RX2");
    Line("?RX");
    Line("?TX");
    EXPECT_EQ(otrsp.QueuedCount(), 2u);
    otrsp.ProcessDeferredCommands();
    EXPECT_TRUE(port.writes.empty());
    otrsp.ClearOnDisconnect();
    EXPECT_EQ(otrsp.QueuedCount(), 0u);
    EXPECT_EQ(otrsp.PendingReplies(), 0);
    EXPECT_TRUE(port.writes.empty());
}

TEST_F(OtrspTest, DisconnectedBoxDropsRxTxButAnswersQueries) {
    sender.connected = false;
    Line("RX2");
    Line("TX2");
    Line("AUX1 5");
    Line("?TX");
    Line("?AUX1");
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(otrsp.RequestedAux(1), 0x15);
    EXPECT_EQ(port.writes, (std::vector<std::string>{"TX1\r", "AUX10\r"}));
}

// A PTT change while no box is connected is refused by the link; counting it anyway would
// leave one reply pending for good and hold every later query.
TEST_F(OtrspTest, UnwrittenPttStateIsNotCountedSoQueriesAnswerAfterReconnect) {
    sender.connected = false;
    Line("X1");
    Line("X0");
    EXPECT_EQ(sender.refusals, 2);
    EXPECT_EQ(otrsp.PendingReplies(), 0);
    EXPECT_EQ(otrsp.CommandsSent(), 0);

    // The box connects: the connect query asks for the nine counted reports.
    sender.connected = true;
    const uint8_t counted[] = {0x31, 0x33, 0x30, 0x34, 0x35, 0x20, 0x21, 0x22, 0x23};
    for (size_t i = 0; i < sizeof counted; ++i) {
        otrsp.CountBoxCommand();
    }
    otrsp.RequestResync();
    Line("?RX");
    EXPECT_TRUE(port.writes.empty());
    for (uint8_t code : counted) {
        Reply(code, code == box::kZuvoState ? 0x02 : 0);
    }
    EXPECT_EQ(port.writes, (std::vector<std::string>{"RX2\r"}));
    EXPECT_EQ(otrsp.PendingReplies(), 0);
    EXPECT_FALSE(otrsp.ResyncPending());
}

TEST_F(OtrspTest, ResyncSendsStoredValuesThenAsksForTheSwitches) {
    otrsp.RequestResync();
    Line("AUX2 4");
    Line("MAP2 3");
    Line("RX2");
    Line("VPHONE1");
    EXPECT_TRUE(sender.sent.empty());
    state.switchingConfig = 0x09;
    window.blendSelection = 17;
    otrsp.CountBoxCommand();
    Reply(box::kZuvoState, 0);
    EXPECT_EQ(sender.sent, (Sent{{0x21, 0x14}, {0x35, 0x22}, {0x00, 0x32}}));
    EXPECT_EQ(otrsp.PendingReplies(), 2);  // the switches query is not counted
    EXPECT_EQ(otrsp.RequestedConfig(), 0x09);
    EXPECT_EQ(otrsp.RequestedBlend(), 17);
}

TEST_F(OtrspTest, ChangeReportsFollowTheFrontPanel) {
    Line("ERX1");
    Line("ETX1");
    Line("EAB1");
    Line("ECR01");
    EXPECT_EQ(port.Joined(), "$RX1\r$TX1\r$CR00\r");
    port.writes.clear();
    Switches(box::kSwitchRx2);
    Switches(box::kSwitchRx2);  // unchanged: no report
    Switches(box::kSwitchRx2 | box::kSwitchTx2 | box::kSwitchPttInput);
    EXPECT_EQ(port.Joined(), "$RX2\r$AB\r$TX2\r$CR01\r");
    otrsp.OnPortClosed();
    port.writes.clear();
    Switches(0);
    EXPECT_TRUE(port.writes.empty());
    Line("?ERX");
    EXPECT_EQ(port.Joined(), "ERX0\r");
}

TEST_F(OtrspTest, WindowControlsAreCountedSends) {
    otrsp.SetHeadphoneMode(2);
    otrsp.SetBlendOn(true);
    otrsp.SetMicRelays(true);
    otrsp.SetBlendLevel(40);
    otrsp.SetMapIndex(1, 3);
    EXPECT_EQ(sender.sent,
              (Sent{{0x31, 0x02}, {0x31, 0x0A}, {0x31, 0x1A}, {0x33, 40}, {0x34, 0x23}}));
    EXPECT_EQ(otrsp.PendingReplies(), 5);
    EXPECT_EQ(otrsp.RequestedMap(1), 0x23);
}

TEST_F(OtrspTest, VerboseLineForEachCommand) {
    verbose.zuvo = true;
    Line("?NAME");
    EXPECT_TRUE(log.Contains("* Got SE command ?NAME"));
}

TEST(ManualSwitchingTest, LinesArePostedAsSwitchingPortBytes) {
    ManualSwitchingControls c;
    EXPECT_EQ(ManualRxLine(c), "RX1\r");
    c.rx1 = false;
    c.stereo = true;
    EXPECT_EQ(ManualRxLine(c), "RX2S\r");
    platform::MessageQueue q;
    PostSwitchingLine(q, "TX\xE9\r");
    platform::Message m;
    ASSERT_TRUE(q.TryGet(m));
    EXPECT_EQ(m.id, platform::kMsgSwitchingPortByte);
    EXPECT_EQ(m.lParam, 'T');
    q.TryGet(m);
    q.TryGet(m);
    EXPECT_EQ(m.lParam, -23);
}

}  // namespace
}  // namespace zuvo
