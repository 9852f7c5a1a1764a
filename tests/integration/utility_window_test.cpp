// ZuvoBoxUtility without --update or --show: the window, offscreen here.

#include <gtest/gtest.h>

#include <csignal>
#include <thread>

#include "integration/child_process.h"

namespace zuvo::test {
namespace {

class UtilityWindowProgramTest : public ::testing::Test {
  protected:
    std::vector<std::string> Env(const std::string& platform) const {
        std::vector<std::string> env = PrivateEnv(dir);
        env.insert(env.end(), {"QT_QPA_PLATFORM=" + platform, "DISPLAY=", "WAYLAND_DISPLAY="});
        return env;
    }
    std::string UtilityPath() const { return std::string(ZUVO_BIN_DIR) + "/ZuvoBoxUtility"; }
    bool BuiltWithoutWindow(int status) const {
        return status == 2 &&
               ReadFile(dir / "err").find("built without a window") != std::string::npos;
    }
    TempFolder dir;
};

TEST_F(UtilityWindowProgramTest, ScreenshotConnectsToTheSimulatedBoxAndEnds) {
    const std::string png = dir / "utility.png";
    ChildProcess utility(UtilityPath(), {"--simulate", "--screenshot", png}, Env("offscreen"),
                         dir / "out", dir / "err");
    const int status = utility.Wait(std::chrono::seconds(20));
    if (BuiltWithoutWindow(status)) {
        GTEST_SKIP() << "built without Qt";
    }
    ASSERT_EQ(status, 0) << ReadFile(dir / "err");
    EXPECT_EQ(ReadFile(png).substr(0, 4), "\x89PNG");
    EXPECT_TRUE(ReadLines(dir / "out").empty());  // the log is in the window
}

TEST_F(UtilityWindowProgramTest, ASignalClosesTheWindowAndWithoutADisplayThereIsNone) {
    ChildProcess utility(UtilityPath(), {"--simulate"}, Env("offscreen"), dir / "out", dir / "err");
    // Not sooner: a signal before the program has taken it over would simply kill it.
    ASSERT_TRUE(utility.WaitForSignalWatcher());
    utility.Signal(SIGTERM);
    const int status = utility.Wait(std::chrono::seconds(20));
    if (BuiltWithoutWindow(status)) {
        GTEST_SKIP() << "built without Qt";
    }
    EXPECT_EQ(status, 0) << ReadFile(dir / "err");

    ChildProcess headless(UtilityPath(), {"--simulate"}, Env(""), dir / "out2", dir / "err2");
    EXPECT_EQ(headless.Wait(std::chrono::seconds(20)), 2);
}

}  // namespace
}  // namespace zuvo::test
