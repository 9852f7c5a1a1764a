#include "sim/sim_fsk.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "link/box_protocol.h"

namespace zuvo::sim {
namespace {

using Pair = std::pair<int, int>;
constexpr uint8_t kStatus = 0x41;

class SimFskTest : public ::testing::Test {
  protected:
    SimFskTest() {
        SimFsk::Install(box);
        box.SetTranscript(&transcript);
    }
    std::vector<Pair> At(int64_t ms) {
        clock.Set(ms);
        box.Tick();
        std::vector<Pair> out;
        SimReport r;
        while (box.PopReady(r)) {
            out.emplace_back(r.code, r.value);
        }
        return out;
    }

    VirtualClock clock;
    SimBox box{clock};
    std::ostringstream transcript;
};

TEST(SimFskTiming, OneStartBitDataBitsAndStopBitsAtTheSelectedSpeed) {
    EXPECT_EQ(166666, SimFsk::CharacterMicros(0x41));  // 45 baud, 5 bits, 1.5 stop
    EXPECT_EQ(36666, SimFsk::CharacterMicros(0xB9));   // 300 baud, 8 bits, 2 stop
    EXPECT_EQ(318181, SimFsk::CharacterMicros(0x00));  // 22 baud, 5 bits, 1 stop
    EXPECT_EQ(SimFsk::CharacterMicros(0x41), SimFsk::CharacterMicros(0x4F));  // unknown speed
}

TEST_F(SimFskTest, HoldsOneKeysOneLosesTheThirdAndReportsStatusChanges) {
    box.ReceiveReport(0, kStatus);
    EXPECT_EQ((std::vector<Pair>{{kStatus, 3}}), At(0));  // idle: ready and finished
    box.ReceiveReport(0x42, 0x41);
    box.ReceiveReport(0x43, 'C');
    EXPECT_EQ((std::vector<Pair>{{kStatus, 1}}), At(0));  // keying, place free
    box.ReceiveReport(0x43, 'Q');
    EXPECT_EQ((std::vector<Pair>{{kStatus, 0}}), At(0));
    box.ReceiveReport(0x43, 'X');  // busy: lost, nothing reported
    EXPECT_TRUE(At(0).empty());

    EXPECT_TRUE(At(166).empty());
    EXPECT_EQ(167, box.NextEventMs());
    EXPECT_EQ((std::vector<Pair>{{kStatus, 1}}), At(167));  // 'Q' keyed right after 'C'
    EXPECT_EQ(334, box.NextEventMs());                      // 2 x 166.666 ms, no drift
    EXPECT_TRUE(At(333).empty());
    EXPECT_EQ((std::vector<Pair>{{kStatus, 3}}), At(334));
    EXPECT_EQ(-1, box.NextEventMs());

    const std::string t = transcript.str();
    EXPECT_NE(std::string::npos, t.find("fsk key 0x43 45 baud 5N1.5"));
    EXPECT_NE(std::string::npos, t.find("fsk busy 0x58 lost"));
    EXPECT_LT(t.find("fsk key 0x43"), t.find("fsk key 0x51"));
    EXPECT_NE(std::string::npos, t.find("fsk idle"));
}

TEST_F(SimFskTest, LateTickCatchesUpWithoutLosingTheHeldCharacter) {
    box.ReceiveReport(0x42, 0xB9);  // 300 baud 8N2: 36.666 ms
    box.ReceiveReport(0x43, 'A');
    box.ReceiveReport(0x43, 'B');
    At(0);
    EXPECT_EQ((std::vector<Pair>{{kStatus, 1}, {kStatus, 3}}), At(500));
}

TEST_F(SimFskTest, RestartDropsWhatIsInFlight) {
    box.ReceiveReport(0x43, 'A');
    box.ReceiveReport(0x43, 'B');
    At(0);
    box.ReceiveReport(0x03, 0x24);  // Reset Defaults
    box.ReceiveReport(0, kStatus);
    At(SimBox::kRestartOfflineMs);
    box.ReceiveReport(0, kStatus);
    EXPECT_EQ((std::vector<Pair>{{kStatus, 3}}), At(SimBox::kRestartOfflineMs));
}

}  // namespace
}  // namespace zuvo::sim
