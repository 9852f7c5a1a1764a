// ZuvoBox picks its front end: the window when a display (or a screenshot) asks for one,
// headless otherwise.

#include <gtest/gtest.h>

#include <csignal>

#include "integration/child_process.h"

namespace zuvo::test {
namespace {

class WindowProgramTest : public ::testing::Test {
  protected:
    std::vector<std::string> Env(const std::string& platform) const {
        std::vector<std::string> env = PrivateEnv(dir);
        env.insert(env.end(), {"QT_QPA_PLATFORM=" + platform, "DISPLAY=", "WAYLAND_DISPLAY="});
        return env;
    }
    TempFolder dir;
};

TEST_F(WindowProgramTest, ScreenshotOfTheWindowOnTheSimulatedBoxThenCloseLikeTheTitleBar) {
    const std::string png = dir / "window.png";
    ChildProcess zuvo(ZuvoBoxPath(),
                      {"--simulate", "--sim-transcript", dir / "t.txt", "--screenshot", png},
                      Env("offscreen"), dir / "out", dir / "err");
    const int status = zuvo.Wait(std::chrono::seconds(20));
    if (status == 2 && ReadFile(dir / "err").find("built without a window") != std::string::npos) {
        GTEST_SKIP() << "built without Qt";
    }
    ASSERT_EQ(status, 0) << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(png).substr(0, 4), "\x89PNG");
    // The window's close hands the speed back to the pot: Keyer Control 8 goes out last.
    std::string lastHost;
    for (const auto& line : ReadLines(dir / "t.txt")) {
        if (line.find(" host ") != std::string::npos) {
            lastHost = line;
        }
    }
    EXPECT_NE(lastHost.find("host 0x16 0x08"), std::string::npos) << lastHost;
    EXPECT_TRUE(ReadLines(dir / "out").empty());  // the log is in the window, not on stdout
}

TEST_F(WindowProgramTest, WithoutADisplayTheProgramRunsHeadless) {
    ChildProcess zuvo(ZuvoBoxPath(), {"--simulate"}, Env(""), dir / "out", dir / "err");
    EXPECT_TRUE(zuvo.WaitForLine("Connected to Zuvo Box version 1.0-0"));
    zuvo.Signal(SIGTERM);
    EXPECT_EQ(zuvo.Wait(), 0);
}

}  // namespace
}  // namespace zuvo::test
