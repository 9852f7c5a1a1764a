#include "rtty/rtty_bridge.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "fakes/fakes.h"
#include "platform/fake/fake_rtty_channel.h"
#include "rtty/rtty_test_fakes.h"

namespace zuvo {
namespace {

using Sent = std::vector<std::pair<uint8_t, uint8_t>>;

constexpr uint8_t kSpeedBits = 0x42;
constexpr uint8_t kChar = 0x43;

class RttyBridgeTest : public ::testing::Test {
  protected:
    RttyBridgeTest() : sender(&log), switching(state) {
        state.map[0] = 0x20;  // radio 1 -> station 1
        state.map[1] = 0x21;  // radio 2 -> station 2
        bridge.OpenRttyBridge();
        bridge.ResetRttySpeedBits();
    }

    void Msg(uint8_t type, uint8_t station, uint16_t value) {
        EXPECT_EQ(1, bridge.OnRttyMessage(PackRttyMessage(type, station, value), 0));
    }
    // The box is idle and ready; a previous report has told us.
    void BoxIdle() { bridge.OnRttyStatusReport(kRttyStatusReady | kRttyStatusFinished); }
    uint32_t BlockCounter(int station) {
        return block.Read32(platform::RttyCounterOffset(station));
    }

    test::FakeEventLog log;
    test::FakeVerbose verbose;
    test::FakeBoxSender sender;
    BoxState state;
    test::RttySwitchingStub switching;
    platform::fake::FakeRttySharedBlock block;
    platform::fake::FakeRttyMessageReceiver receiver;
    platform::MessageQueue queue;
    RttyBridge bridge{switching, state, sender, log, verbose, block, receiver, queue};
};

TEST(RttyCodes, ValuesMapToCodesWithFallbacks) {
    EXPECT_EQ(0, RttySpeedCode(22));
    EXPECT_EQ(1, RttySpeedCode(45));
    EXPECT_EQ(9, RttySpeedCode(300));
    EXPECT_EQ(1, RttySpeedCode(60));
    EXPECT_EQ(1, RttySpeedCode(0));
    EXPECT_EQ(0, RttyLengthCode(5));
    EXPECT_EQ(3, RttyLengthCode(8));
    EXPECT_EQ(0, RttyLengthCode(9));
    EXPECT_EQ(0, RttyLengthCode(4));
    EXPECT_EQ(2, RttyStopCode(2));
    EXPECT_EQ(0, RttyStopCode(0));
    EXPECT_EQ(1, RttyStopCode(3));
}

TEST_F(RttyBridgeTest, OpenWritesTargetMarkerAndZeroCounters) {
    EXPECT_EQ(receiver.target, block.Read32(0));
    EXPECT_EQ(1u, block.Read32(4));
    EXPECT_EQ(&queue, receiver.poster);
    for (int s = 1; s <= 4; ++s) {
        EXPECT_EQ(0u, BlockCounter(s));
    }
    EXPECT_TRUE(log.lines.empty());
}

TEST_F(RttyBridgeTest, SettingsReachTheBoxAsSpeedBitsBeforeTheCharacter) {
    Msg(kRttySpeed, 1, 300);   // code 9
    Msg(kRttyLength, 1, 8);    // code 3
    Msg(kRttyStopBits, 1, 2);  // code 2
    BoxIdle();
    Msg(kRttyChar, 1, 'R');
    EXPECT_EQ((Sent{{kSpeedBits, 0x09 | 0x30 | 0x80}, {kChar, 'R'}}), sender.sent);

    // Out-of-range values fall back: 60 baud -> 45 (code 1), 9 bits -> 5, stop 3 -> 1.
    sender.Clear();
    Msg(kRttySpeed, 1, 60);
    Msg(kRttyLength, 1, 9);
    Msg(kRttyStopBits, 1, 3);
    BoxIdle();
    Msg(kRttyChar, 1, 'Y');
    EXPECT_EQ((Sent{{kSpeedBits, 0x01 | 0x00 | 0x40}, {kChar, 'Y'}}), sender.sent);
}

TEST_F(RttyBridgeTest, SpeedBitsOnlyBeforeTheFirstOfTwoCharacters) {
    BoxIdle();
    Msg(kRttyChar, 1, 'C');
    BoxIdle();
    Msg(kRttyChar, 1, 'Q');
    EXPECT_EQ((Sent{{kSpeedBits, 0x41}, {kChar, 'C'}, {kChar, 'Q'}}), sender.sent);
    EXPECT_EQ(2u, BlockCounter(1));
}

TEST_F(RttyBridgeTest, AllZeroStationGetsNoSpeedBitsAfterConnect) {
    Msg(kRttySpeed, 1, 22);
    Msg(kRttyLength, 1, 5);
    Msg(kRttyStopBits, 1, 0);
    bridge.ResetRttySpeedBits();
    BoxIdle();
    Msg(kRttyChar, 1, 'E');
    EXPECT_EQ((Sent{{kChar, 'E'}}), sender.sent);
}

TEST_F(RttyBridgeTest, BusyBoxHoldsOneCharacterAndDropsTheSecondUncounted) {
    bridge.OnRttyStatusReport(0);  // busy
    Msg(kRttyChar, 1, 'A');
    Msg(kRttyChar, 1, 'B');
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(0u, BlockCounter(1));

    bridge.OnRttyStatusReport(kRttyStatusReady);
    EXPECT_EQ((Sent{{kSpeedBits, 0x41}, {kChar, 'A'}}), sender.sent);
    EXPECT_EQ(1u, BlockCounter(1));
    // The report's ready bit was used up by 'A'; a repeat of it sends nothing more.
    bridge.OnRttyStatusReport(kRttyStatusReady);
    EXPECT_EQ(2u, sender.sent.size());
    EXPECT_EQ(1u, bridge.Counter(0));
}

TEST_F(RttyBridgeTest, CharacterForAnotherStationIsOnlyCounted) {
    BoxIdle();
    Msg(kRttyChar, 2, 'X');
    Msg(kRttyChar, 4, 'X');
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(0u, BlockCounter(1));
    EXPECT_EQ(1u, BlockCounter(2));
    EXPECT_EQ(1u, BlockCounter(4));
    EXPECT_EQ(kRttyStatusReady | kRttyStatusFinished, state.lastRttyStatus);
}

TEST_F(RttyBridgeTest, RequestedMapDecidesTheStationOverTheReportedOne) {
    switching.requestedMap[0] = 0x22;  // radio 1 -> station 3
    BoxIdle();
    Msg(kRttyChar, 1, 'X');
    Msg(kRttyChar, 3, 'Y');
    EXPECT_EQ((Sent{{kSpeedBits, 0x41}, {kChar, 'Y'}}), sender.sent);
    EXPECT_EQ(1u, bridge.Counter(0));
}

TEST_F(RttyBridgeTest, PttOnAtOnceReleaseHeldUntilTheBoxHasFinished) {
    BoxIdle();
    Msg(kRttyPtt, 1, 1);
    EXPECT_EQ((std::vector<bool>{true}), switching.updates);

    bridge.OnRttyStatusReport(kRttyStatusReady);  // keying, not finished
    Msg(kRttyPtt, 1, 0);
    EXPECT_FALSE(switching.rttyPtt);          // the source is off at once...
    EXPECT_EQ(1u, switching.updates.size());  // ...but the box has not heard of it
    EXPECT_TRUE(bridge.PttReleasePending());

    bridge.OnRttyStatusReport(kRttyStatusReady);
    EXPECT_EQ(1u, switching.updates.size());
    bridge.OnRttyStatusReport(kRttyStatusReady | kRttyStatusFinished);
    EXPECT_EQ((std::vector<bool>{true, false}), switching.updates);
    EXPECT_FALSE(bridge.PttReleasePending());
}

TEST_F(RttyBridgeTest, PttOffWhenTheBoxHasFinishedReleasesAtOnce) {
    BoxIdle();
    Msg(kRttyPtt, 1, 1);
    Msg(kRttyPtt, 1, 0);
    EXPECT_EQ((std::vector<bool>{true, false}), switching.updates);
}

// The kept status said "finished" before the last character went out; releasing PTT on
// that stale bit would cut the character off the air.
TEST_F(RttyBridgeTest, PttOffRightAfterTheLastCharacterWaitsForTheBox) {
    BoxIdle();
    Msg(kRttyPtt, 1, 1);
    Msg(kRttyChar, 1, 'K');
    Msg(kRttyPtt, 1, 0);
    EXPECT_EQ(1u, switching.updates.size());
    bridge.OnRttyStatusReport(kRttyStatusReady);
    EXPECT_EQ(1u, switching.updates.size());
    bridge.OnRttyStatusReport(kRttyStatusReady | kRttyStatusFinished);
    EXPECT_EQ((std::vector<bool>{true, false}), switching.updates);
}

TEST_F(RttyBridgeTest, PendingCharacterSentOnReadyIsNotFollowedByAnEarlyRelease) {
    bridge.OnRttyStatusReport(0);
    Msg(kRttyPtt, 1, 1);
    Msg(kRttyChar, 1, 'K');  // pending
    Msg(kRttyPtt, 1, 0);     // release pending
    // A box that reports ready and finished together hands 'K' over; PTT must stay on.
    bridge.OnRttyStatusReport(kRttyStatusReady | kRttyStatusFinished);
    EXPECT_EQ(kChar, sender.sent.back().first);
    EXPECT_EQ(1u, switching.updates.size());
    bridge.OnRttyStatusReport(kRttyStatusReady | kRttyStatusFinished);
    EXPECT_EQ((std::vector<bool>{true, false}), switching.updates);
}

TEST_F(RttyBridgeTest, TxRadioChangeMidMessageDropsPttAndCountsThePendingCharacter) {
    bridge.OnRttyStatusReport(0);
    Msg(kRttyPtt, 1, 1);
    Msg(kRttyChar, 1, 'A');  // waits for the box
    ASSERT_TRUE(switching.rttyPtt);

    state.switchingState = 0x01;  // the box now transmits on radio 2 (station 2)
    bridge.CheckRttyStation();
    EXPECT_FALSE(switching.rttyPtt);
    EXPECT_FALSE(switching.updates.back());
    EXPECT_EQ(1u, BlockCounter(1));  // the waiting 'A' is discarded and counted
    EXPECT_FALSE(bridge.StationAt(0).pending);
    EXPECT_FALSE(bridge.PttReleasePending());

    // A ready report now sends nothing for station 1.
    bridge.OnRttyStatusReport(kRttyStatusReady);
    EXPECT_TRUE(sender.sent.empty());
    // Station 2 is on the air and gets its own speed bits.
    Msg(kRttySpeed, 2, 75);
    bridge.OnRttyStatusReport(kRttyStatusReady);
    Msg(kRttyChar, 2, 'B');
    EXPECT_EQ((Sent{{kSpeedBits, 0x44}, {kChar, 'B'}}), sender.sent);
}

TEST_F(RttyBridgeTest, MapChangeSeenByTheNextMessage) {
    bridge.OnRttyStatusReport(0);
    Msg(kRttyChar, 1, 'A');            // pending on station 1
    switching.requestedMap[0] = 0x23;  // radio 1 now feeds station 4
    Msg(kRttyChar, 1, 'B');            // station 1 is not current: counted only
    EXPECT_EQ(1u, BlockCounter(1));
    Msg(kRttyPtt, 4, 1);  // checks the station: 'A' is discarded and counted
    EXPECT_EQ(2u, BlockCounter(1));
    EXPECT_TRUE(switching.rttyPtt);
}

TEST_F(RttyBridgeTest, BadStationNumbersAreLoggedAlwaysAndChangeNothing) {
    BoxIdle();
    for (uint8_t s : {0, 5, 255}) {
        Msg(kRttyChar, s, 'A');
        Msg(kRttySpeed, s, 300);
        Msg(7, s, 0);
    }
    EXPECT_EQ(9u, log.lines.size());
    EXPECT_EQ("RE - bad station number 0x00", log.lines[0]);
    EXPECT_EQ("RE - bad station number 0x05", log.lines[3]);
    EXPECT_EQ("RE - bad station number 0xff", log.lines[6]);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(1, bridge.StationAt(0).speedCode);
}

TEST_F(RttyBridgeTest, UnknownTypesAndHelloAreSilent) {
    verbose.rtty = true;
    BoxIdle();
    for (uint8_t type : {0, 1, 7, 0x80, 0xFF}) {
        Msg(type, 1, 0x41);
    }
    EXPECT_TRUE(log.lines.empty());
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(0u, bridge.Counter(0));
}

TEST_F(RttyBridgeTest, VerboseLinesCarryTheLowByteOfTheValue) {
    Msg(kRttySpeed, 1, 300);
    EXPECT_TRUE(log.lines.empty());
    verbose.rtty = true;
    BoxIdle();
    Msg(kRttySpeed, 1, 300);
    Msg(kRttyLength, 1, 8);
    Msg(kRttyStopBits, 1, 2);
    Msg(kRttyPtt, 1, 1);
    Msg(kRttyChar, 1, 0x4151);  // low 8 bits: 'Q'
    EXPECT_EQ((std::vector<std::string>{"* RE received speed 0x2c(',')",
                                        "* RE received length 0x08", "* RE received stop bits 0x02",
                                        "* RE received PTT 0x01", "* RE received Char 0x51('Q')"}),
              log.lines);
    EXPECT_EQ(kChar, sender.sent.back().first);
    EXPECT_EQ('Q', sender.sent.back().second);
}

TEST_F(RttyBridgeTest, WithoutABoxCharactersStillCount) {
    BoxIdle();
    sender.connected = false;
    Msg(kRttyChar, 1, 'A');
    EXPECT_EQ(1u, BlockCounter(1));
    EXPECT_TRUE(log.Contains("Zuvo Box is not connected"));
    // The box has not said it is ready again: the next character waits.
    Msg(kRttyChar, 1, 'B');
    EXPECT_EQ(1u, BlockCounter(1));
    EXPECT_TRUE(bridge.StationAt(0).pending);
}

TEST_F(RttyBridgeTest, MapValueNamingNoStationDiscardsEverything) {
    state.map[0] = 0x0E;  // a value the box should never report
    BoxIdle();
    Msg(kRttyPtt, 1, 1);
    Msg(kRttyChar, 1, 'A');
    EXPECT_FALSE(switching.rttyPtt);
    EXPECT_TRUE(sender.sent.empty());
    EXPECT_EQ(1u, BlockCounter(1));
    bridge.SendRttySpeedBits();
    EXPECT_TRUE(sender.sent.empty());
}

TEST_F(RttyBridgeTest, ReceiverNoteIsLoggedAndNotTakenAsAMessage) {
    platform::Message note{platform::kMsgRtty, 0, 0, "note", 0};
    EXPECT_EQ(1, bridge.OnRttyMessage(note));
    EXPECT_EQ((std::vector<std::string>{"note"}), log.lines);
}

TEST(RttyBridgeOpen, WithoutASocketOrABlockTheBridgeSaysSoAndStillCounts) {
    test::FakeEventLog log;
    test::FakeVerbose verbose;
    test::FakeBoxSender sender(&log);
    BoxState state;
    test::RttySwitchingStub switching(state);
    platform::fake::FakeRttySharedBlock block;
    block.openResult = platform::SharedBlockOpen::kFailed;
    platform::fake::FakeRttyMessageReceiver receiver;
    receiver.registerResult = false;
    platform::MessageQueue queue;
    RttyBridge bridge(switching, state, sender, log, verbose, block, receiver, queue);
    bridge.OpenRttyBridge();
    const std::string reason = " " + platform::SystemErrorText(platform::kErrorAccessDenied);
    EXPECT_EQ(log.lines,
              (std::vector<std::string>{"RE - cannot receive RTTY messages: ", reason,
                                        "RE - cannot create the shared block: ", reason}));
    log.Clear();
    bridge.OnRttyStatusReport(kRttyStatusReady);
    bridge.OnRttyMessage(PackRttyMessage(kRttyChar, 1, 'A'), 0);
    EXPECT_TRUE(log.lines.empty());
    EXPECT_EQ(1u, bridge.Counter(0));
    EXPECT_EQ(0u, block.Read32(platform::RttyCounterOffset(1)));
}

}  // namespace
}  // namespace zuvo
