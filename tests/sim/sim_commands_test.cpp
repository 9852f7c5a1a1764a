#include "sim/sim_commands.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zuvo::sim {
namespace {

class RecordingControls final : public ISimControls {
  public:
    std::vector<std::string> calls;
    void Unplug() override { calls.push_back("unplug"); }
    void Replug() override { calls.push_back("replug"); }
    void SetSwitches(uint8_t s) override { calls.push_back("switches " + std::to_string(s)); }
    void SetPot(uint8_t w) override { calls.push_back("pot " + std::to_string(w)); }
    void PressPaddle() override { calls.push_back("paddle"); }
    void SetReplyDelayMs(int ms) override { calls.push_back("delay " + std::to_string(ms)); }
    void SetVersion(uint8_t a, uint8_t b, uint8_t c, uint8_t d) override {
        calls.push_back("version " + std::to_string(a) + " " + std::to_string(b) + " " +
                        std::to_string(c) + " " + std::to_string(d));
    }
};

TEST(SimCommands, GoodLinesRunTheirControl) {
    RecordingControls controls;
    for (const char* line : {"unplug", "replug", "switches 0x0a", "pot 25", "paddle", "delay 5",
                             "version 2 1 5 0", "  Switches   0X1F \r", "", "# a comment"}) {
        EXPECT_EQ(ExecuteSimCommand(line, controls), "") << line;
    }
    EXPECT_EQ(controls.calls,
              (std::vector<std::string>{"unplug", "replug", "switches 10", "pot 25", "paddle",
                                        "delay 5", "version 2 1 5 0", "switches 31"}));
}

TEST(SimCommands, BadLinesSayWhatIsWrongAndDoNothing) {
    RecordingControls controls;
    for (const char* line : {"explode", "pot", "pot 25 26", "pot -1", "pot 128", "pot 2x",
                             "switches 0x20", "switches 0x", "delay 60001", "version 16 0 0 0",
                             "version 1 2 3", "unplug now", "pot 99999999999999"}) {
        EXPECT_NE(ExecuteSimCommand(line, controls), "") << line;
    }
    EXPECT_TRUE(controls.calls.empty());
    SimCommand command;
    EXPECT_EQ(ParseSimCommand("pot", command), "usage: pot WPM (0..127)");
}

}  // namespace
}  // namespace zuvo::sim
