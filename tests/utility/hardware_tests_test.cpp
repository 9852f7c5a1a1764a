#include <gtest/gtest.h>

#include "utility/utility_fixture.h"

namespace zuvo {
namespace {

using namespace utility;
using Sends = std::vector<std::pair<int, int>>;
using Lines = std::vector<std::string>;

class HardwareTestsTest : public test::UtilityFixture {};

TEST_F(HardwareTestsTest, OverwriteCharacterAndResult) {
    Connect();
    dlg_.OnControlChanged(kOverwrite);  // PTT Pre shows no entry
    EXPECT_EQ(TakeLines(), Lines{"Pre PTT must be zero for overwrite test"});
    Report(0x19, 0);
    dlg_.OnControlChanged(kOverwrite);
    EXPECT_EQ(Sent(), (Sends{{0x13, 'X'}, {0x13, 'X'}, {0x14, 'E'}}));
    Report(0x14, 0);
    Report(0x14, 0);
    EXPECT_EQ(Sent(), (Sends{{0x14, 'E'}, {0x14, 'E'}}));
    Report(0x14, 1);
    EXPECT_EQ(TakeLines(), Lines{"There were 2 succesful overwrites"});
    Report(0x14, 1);  // the test has ended
    EXPECT_TRUE(TakeLines().empty());

    dlg_.Model().SetText(kText, "abc");
    dlg_.OnControlChanged(kOverwrite);
    EXPECT_EQ(Sent(), (Sends{{0x13, 'A'}, {0x13, 'A'}, {0x14, 'E'}}));
    Report(0x14, 9);
    EXPECT_EQ(TakeLines(), Lines{"There were 0 succesful overwrites"});
}

TEST_F(HardwareTestsTest, OverwriteWithoutABox) {
    dlg_.OnControlChanged(kOverwrite);
    EXPECT_EQ(TakeLines(), Lines{"Pre PTT must be zero for overwrite test"});
}

TEST_F(HardwareTestsTest, MultiplexRunsTenThousandAndTwoCommands) {
    Connect();
    Report(0x30, 0x09);
    dlg_.OnControlChanged(kMultiplex);
    auto sent = Sent();
    ASSERT_EQ(sent, (Sends{{0x30, 0x0B}}));
    int commands = 1;
    seconds_ += 3;
    while (dlg_.Tests().MultiplexCounter() != 0) {
        Report(0x30, static_cast<uint8_t>(sent.back().second));
        sent = Sent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].second & 0xF9, 0x09);  // PTT and TX 2 unchanged
        ++commands;
    }
    EXPECT_EQ(commands, 10002);
    EXPECT_EQ(TakeLines(), (Lines{"Starting MUX test, please wait",
                                  "Mux test completed 10000 changes in 3 seconds"}));
    // The answer to the last command updates the window again.
    Report(0x30, 0x0F);
    EXPECT_TRUE(dlg_.Model().Checked(kStereo));
    EXPECT_TRUE(Sent().empty());
}

TEST_F(HardwareTestsTest, MultiplexEndsWithoutResultOnDisconnect) {
    dlg_.OnControlChanged(kMultiplex);
    EXPECT_EQ(TakeLines(), (Lines{"Starting MUX test, please wait", "Connect to Zuvo Box first!"}));
    EXPECT_EQ(dlg_.Tests().MultiplexCounter(), 0u);
    Connect();
    dlg_.OnControlChanged(kMultiplex);
    Report(0x30, 0x02);
    dlg_.OnControlChanged(kConnect);
    EXPECT_EQ(dlg_.Tests().MultiplexCounter(), 0u);
    EXPECT_EQ(TakeLines(), (Lines{"Starting MUX test, please wait", "Disconnected"}));
}

}  // namespace
}  // namespace zuvo
