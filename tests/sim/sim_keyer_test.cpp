#include "sim/sim_keyer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "link/box_protocol.h"

namespace zuvo::sim {
namespace {

using Pair = std::pair<int, int>;
using Pairs = std::vector<Pair>;

constexpr int kChar = box::kKeyerChar;
constexpr int kSending = box::kKeyerSendingChar;
constexpr int kEvent = box::kKeyerEvent;
constexpr Pair kEnd{kEvent, box::kEventEndOfCharacter};
constexpr Pair kIdle{kEvent, box::kEventIdle};

class SimKeyerTest : public ::testing::Test {
  protected:
    SimKeyerTest() : keyer(SimKeyer::Install(box)) {
        box.SetTranscript(&transcript);
        box.ReceiveReport(box::kKeyerSpeed, 20);  // dit 60 ms
        At(0);
    }
    Pairs At(int64_t ms) {
        clock.Set(ms);
        box.Tick();
        Pairs out;
        SimReport r;
        while (box.PopReady(r)) {
            out.emplace_back(r.code, r.value);
        }
        return out;
    }
    void Host(uint8_t code, uint8_t value) { box.ReceiveReport(code, value); }

    VirtualClock clock;
    SimBox box{clock};
    SimKeyer& keyer;
    std::ostringstream transcript;
};

TEST(SimKeyerTiming, ParisIsFiftyDits) {
    int64_t us = 0;
    for (char c : std::string("PARIS ")) {
        us += SimKeyer::CharacterMicros(static_cast<uint8_t>(c), 20);
    }
    EXPECT_EQ(us, 50 * 60000);
    EXPECT_EQ(SimKeyer::CharacterMicros('E', 60), 4 * 20000);
    EXPECT_EQ(SimKeyer::CharacterMicros(0x01, 60), 0);  // nothing to key
}

TEST_F(SimKeyerTest, KeysOneHoldsTheNextAndReportsAtMorseTiming) {
    Host(kChar, 'E');
    EXPECT_EQ(At(0), (Pairs{{kChar, 1}, {kSending, 'E'}}));
    Host(kChar, 'T');
    EXPECT_EQ(At(0), (Pairs{{kChar, 1}}));
    Host(kChar, 'E');
    Host(kChar, 'X');  // nothing free: lost
    EXPECT_EQ(At(0), (Pairs{{kChar, 0}, {kChar, 0}}));
    EXPECT_EQ(box.Setting(box::kKeyerStatus), 0x00);

    EXPECT_EQ(box.NextEventMs(), 240);  // E: dit, dit space, character space
    EXPECT_TRUE(At(239).empty());
    EXPECT_EQ(At(240), (Pairs{kEnd, {kSending, 'T'}}));
    EXPECT_EQ(At(600), (Pairs{kEnd, {kSending, 'E'}}));
    EXPECT_EQ(At(840), (Pairs{kEnd, kIdle}));
    EXPECT_EQ(box.NextEventMs(), -1);
    EXPECT_EQ(keyer.Keyed(), "ETE");
    EXPECT_EQ(keyer.IdleCount(), 1);
    EXPECT_NE(transcript.str().find("keyer lost 0x58"), std::string::npos);
    EXPECT_NE(transcript.str().find("keyed 0x54 'T' 20 wpm"), std::string::npos);
}

TEST_F(SimKeyerTest, OverwriteReplacesOrDropsTheHeldCharacter) {
    Host(kChar, 'E');
    Host(kChar, 'T');
    At(0);
    Host(box::kKeyerOverwrite, 'M');
    EXPECT_EQ(At(0), (Pairs{{box::kKeyerOverwrite, 0}}));
    EXPECT_EQ(At(240), (Pairs{kEnd, {kSending, 'M'}}));
    Host(kChar, 'A');
    Host(box::kKeyerOverwrite, 0);
    EXPECT_EQ(At(240), (Pairs{{kChar, 1}, {box::kKeyerOverwrite, 0}, {kEvent, 3}}));
    Host(box::kKeyerOverwrite, 'B');  // the held one is gone: too late
    EXPECT_EQ(At(240), (Pairs{{box::kKeyerOverwrite, 1}}));
    EXPECT_EQ(At(840), (Pairs{kEnd, kIdle}));  // M: two dahs and the spaces, 10 dits
    EXPECT_EQ(keyer.Keyed(), "EM");
}

TEST_F(SimKeyerTest, SpeedDeltaAppliesToCharactersAfterItAndWeightKeepsTheTotal) {
    Host(box::kKeyerWeight, 200);
    Host(kChar, 'E');
    Host(box::kKeyerSpeedDelta, 20);  // 40 WPM: dit 30 ms
    Host(kChar, 'E');
    At(0);
    EXPECT_EQ(At(240), (Pairs{kEnd, {kSending, 'E'}}));
    EXPECT_EQ(At(360), (Pairs{kEnd, kIdle}));
    EXPECT_NE(transcript.str().find("keyed 0x45 'E' 40 wpm"), std::string::npos);
}

TEST_F(SimKeyerTest, PttLeadDelaysTheFirstElementOnly) {
    Host(box::kPttPreSend, 50);
    Host(kChar, 'E');
    Host(kChar, 'E');
    At(0);
    EXPECT_EQ(At(290), (Pairs{kEnd, {kSending, 'E'}}));
    EXPECT_EQ(At(530), (Pairs{kEnd, kIdle}));
}

TEST_F(SimKeyerTest, TuneHoldsCharactersBack) {
    Host(box::kKeyerControl, box::kControlTuneOn);
    Host(kChar, 'E');
    EXPECT_EQ(At(0), (Pairs{{box::kKeyerControl, 0x0A}, {kChar, 1}}));
    EXPECT_TRUE(At(1000).empty());
    Host(box::kKeyerControl, box::kControlTuneOff);
    EXPECT_EQ(At(1000), (Pairs{{box::kKeyerControl, 0x08}, {kSending, 'E'}}));
    EXPECT_EQ(At(1240), (Pairs{kEnd, kIdle}));
}

TEST_F(SimKeyerTest, PaddleAndAbortDropEverything) {
    Host(kChar, 'E');
    Host(kChar, 'T');
    At(0);
    clock.Set(100);
    box.PressPaddle();
    EXPECT_EQ(At(100), (Pairs{{kEvent, box::kEventPaddlePressed}}));
    EXPECT_EQ(box.NextEventMs(), 460);  // six dits of hand keying
    EXPECT_EQ(At(460), (Pairs{kIdle}));
    EXPECT_EQ(keyer.Keyed(), "E");

    Host(kChar, 'E');
    Host(kChar, 'T');
    Host(box::kKeyerAbort, 0);
    EXPECT_EQ(At(500), (Pairs{{kChar, 1}, {kSending, 'E'}, {kChar, 1}, {box::kKeyerAbort, 0}}));
    EXPECT_TRUE(At(2000).empty());
    EXPECT_FALSE(keyer.Keying());
    EXPECT_EQ(keyer.HeldCount(), 0u);
}

TEST_F(SimKeyerTest, PotSpeedDrivesTheKeyerWhileItFollowsThePot) {
    Host(box::kKeyerControl, box::kControlSpeedFromPot);
    At(0);
    box.SetPot(30);  // dit 40 ms
    EXPECT_EQ(At(0), (Pairs{{box::kKeyerPotSpeed, 30}}));
    Host(kChar, 'E');
    At(0);
    EXPECT_EQ(At(160), (Pairs{kEnd, kIdle}));
}

TEST_F(SimKeyerTest, RestartForgetsTheKeyer) {
    Host(kChar, 'E');
    Host(kChar, 'T');
    At(0);
    box.Restart(0);
    EXPECT_FALSE(keyer.Keying());
    EXPECT_EQ(keyer.HeldCount(), 0u);
    EXPECT_EQ(box.NextEventMs(), -1);
}

}  // namespace
}  // namespace zuvo::sim
