// ZuvoBoxUtility's command line against the simulated box, as a separate process.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "integration/child_process.h"
#include "utility/hex_builder.h"

namespace zuvo::test {
namespace {

class UtilityCliTest : public ::testing::Test {
  protected:
    std::vector<std::string> Env() const { return PrivateEnv(dir); }
    std::unique_ptr<ChildProcess> Run(const std::string& name, std::vector<std::string> args) {
        return std::make_unique<ChildProcess>(std::string(ZUVO_BIN_DIR) + "/ZuvoBoxUtility", args,
                                              Env(), dir / (name + ".out"), dir / (name + ".err"));
    }
    std::string WriteFirmware(const std::string& text) {
        const std::string path = dir / "firmware.hex";
        std::ofstream(path) << text;
        return path;
    }
    bool Has(const std::string& name, const std::string& line) {
        const auto lines = ReadLines(dir / (name + ".out"));
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    TempFolder dir;
};

TEST_F(UtilityCliTest, UpdatesTheSimulatedBoxAndReadsTheNewVersion) {
    const std::string hex =
        WriteFirmware(HexData(0x2000, FirmwareBytes(0x5FC0, 0x31, 7, 2)) + EndRecord());
    auto utility = Run("update", {"--simulate", "--update", hex});
    ASSERT_EQ(utility->Wait(std::chrono::seconds(30)), 0) << ReadFile(dir / "update.err");
    const std::vector<std::string> expected = {
        "Connected",
        "Zuvo Box version 1.0-0",
        "Resetting Zuvo Box into update mode",
        "Connect to update firmware",
        "Device attached.",
        "Connected",
        "Zuvo Box is in firmware update mode",
        "Reading firmware file",
        "Erasing flash memory",
        "Uploading firmware",
        "Verifying firmware",
        "Verify succeeded",
        "Restarting Zuvo Box",
        "Device removed.",
        "Device attached.",
        "Connected",
        "Zuvo Box version 3.1-7(2)",
        "Disconnected",
    };
    EXPECT_EQ(ReadLines(dir / "update.out"), expected);
}

TEST_F(UtilityCliTest, ExitCodesSayWhatFailed) {
    auto bad = Run(
        "bad", {"--simulate", "--update", WriteFirmware(HexData(0x1F00, {1, 2, 3}) + EndRecord())});
    EXPECT_EQ(bad->Wait(), 5);
    EXPECT_TRUE(Has("bad", "Firmware would overwrite bootloader - update cancelled"));

    auto missing = Run("missing", {"--simulate", "--update", dir / "none.hex"});
    EXPECT_EQ(missing->Wait(), 5);
    EXPECT_TRUE(Has("missing", "Cannot open file " + dir / "none.hex"));

    auto jumper = Run(
        "jumper", {"--simulate", "--sim-jumper", "--update",
                   WriteFirmware(HexData(0x2000, FirmwareBytes(64, 0x11, 0, 0)) + EndRecord())});
    EXPECT_EQ(jumper->Wait(std::chrono::seconds(30)), 8);
    EXPECT_NE(ReadFile(dir / "jumper.err").find("Programming complete.  Remove jumper"),
              std::string::npos);

    // Both modes at once (no mode at all would open the window where a display is).
    auto usage = Run("usage", {"--simulate", "--show", "--update", "firmware.hex"});
    EXPECT_EQ(usage->Wait(), 2);
}

TEST_F(UtilityCliTest, ShowPrintsEverySetting) {
    auto show = Run("show", {"--simulate", "--show"});
    ASSERT_EQ(show->Wait(), 0) << ReadFile(dir / "show.err");
    EXPECT_TRUE(Has("show", "Firmware Version 1.0-0"));
    EXPECT_TRUE(Has("show", "Speed: 20"));
    EXPECT_TRUE(Has("show", "Configuration: Normal"));
}

TEST_F(UtilityCliTest, RefusedWhileTheInterfaceProgramRuns) {
    auto zuvo = std::make_unique<ChildProcess>(ZuvoBoxPath(),
                                               std::vector<std::string>{"--headless", "--simulate"},
                                               Env(), dir / "zuvo.out", dir / "zuvo.err");
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    auto utility = Run("refused", {"--simulate", "--show"});
    EXPECT_EQ(utility->Wait(), 1);
    EXPECT_EQ(ReadFile(dir / "refused.err"),
              "The Zuvo Box utility program or the Zuvo\nBox interface program is already "
              "running.\nOnly one instance can run at a time.\n");
    EXPECT_TRUE(ReadLines(dir / "refused.out").empty());
    zuvo->Signal(SIGTERM);
    EXPECT_EQ(zuvo->Wait(), 0);
}

}  // namespace
}  // namespace zuvo::test
