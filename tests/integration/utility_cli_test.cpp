// ZuvoBoxUtility's command line against the simulated box, as a separate process.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
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

    // A folder, and a file whose read fails: the system's reason, and the box untouched.
    auto folder = Run("folder", {"--simulate", "--update", dir.Path()});
    EXPECT_EQ(folder->Wait(), 5);
    EXPECT_EQ(ReadLines(dir / "folder.out"),
              (std::vector<std::string>{"Cannot open file " + dir.Path(), "Is a directory"}));
    auto unreadable = Run("unreadable", {"--simulate", "--update", "/proc/self/mem"});
    EXPECT_EQ(unreadable->Wait(), 5);
    EXPECT_EQ(ReadLines(dir / "unreadable.out"),
              (std::vector<std::string>{"Cannot read file /proc/self/mem", "Input/output error"}));

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

// The firmware file as a FIFO: it can be read only once, and as slowly as the test likes.
class FirmwareFifo {
  public:
    explicit FirmwareFifo(std::string path) : path_(std::move(path)) {
        ::mkfifo(path_.c_str(), 0600);
    }
    ~FirmwareFifo() { Stop(); }

    // Writes text once (repeat: again and again) as soon as the utility opens the FIFO,
    // until it closes it or the deadline passes.
    void Serve(std::string text, bool repeat) {
        writer_ = std::thread([this, text = std::move(text), repeat] {
            // A reader that has gone makes write fail with EPIPE instead of killing the test.
            sigset_t pipe;
            sigemptyset(&pipe);
            sigaddset(&pipe, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
            int fd = -1;
            while (fd < 0 && !stop_ && std::chrono::steady_clock::now() < deadline) {
                fd = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);  // ENXIO: no reader yet
                if (fd < 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                }
            }
            if (fd < 0) {
                return;
            }
            ::fcntl(fd, F_SETFL, 0);
            do {
                if (::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
                    break;
                }
                written_ += text.size();
            } while (repeat && !stop_ && std::chrono::steady_clock::now() < deadline);
            ::close(fd);
        });
    }
    size_t Written() const { return written_; }
    void Stop() {
        stop_ = true;
        if (writer_.joinable()) {
            writer_.join();
        }
    }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
    std::thread writer_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> written_{0};
};

TEST_F(UtilityCliTest, TheFirmwareFileIsReadOnce) {
    FirmwareFifo fifo(dir / "firmware.hex");
    fifo.Serve(HexData(0x2000, FirmwareBytes(0x100, 0x42, 1, 0)) + EndRecord(), false);
    auto utility = Run("once", {"--simulate", "--update", fifo.Path()});
    EXPECT_EQ(utility->Wait(std::chrono::seconds(30)), 0) << ReadFile(dir / "once.err");
    EXPECT_TRUE(Has("once", "Zuvo Box version 4.2-1"));
}

TEST_F(UtilityCliTest, CtrlCDuringALongFileCheckEndsAtOnceWithoutTouchingTheBox) {
    FirmwareFifo fifo(dir / "firmware.hex");
    fifo.Serve(std::string(64 * 1024, '\n'), true);
    auto utility = Run("interrupted", {"--simulate", "--update", fifo.Path()});
    // A pipe holds 64 KiB: once 1 MiB has gone in, the utility is reading the file.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (fifo.Written() < (1u << 20) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_GE(fifo.Written(), 1u << 20);
    utility->Signal(SIGINT);
    EXPECT_EQ(utility->Wait(std::chrono::seconds(5)), 9);
    EXPECT_NE(
        ReadFile(dir / "interrupted.err").find("interrupted while checking the firmware file"),
        std::string::npos)
        << ReadFile(dir / "interrupted.err");
    EXPECT_TRUE(ReadLines(dir / "interrupted.out").empty());
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
