// A logger on the switching port of the headless program: it opens OTRSP_DEVICE in the
// runtime folder as a serial device, exactly as a logger would, while the simulated box's
// front-panel switches are driven through the control FIFO.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "integration/child_process.h"

namespace zuvo::test {
namespace {

// The logger's side: the pty slave through the link, raw, locked like serial programs do.
class Logger {
  public:
    explicit Logger(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ < 0) {
            return;
        }
        locked_ = flock(fd_, LOCK_EX | LOCK_NB) == 0;
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        tcsetattr(fd_, TCSANOW, &t);
    }
    ~Logger() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0 && locked_; }
    void Send(const std::string& text) const {
        ASSERT_EQ(write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }
    // Everything read until `expected` has arrived (or 5 s passed).
    std::string ReadUntil(const std::string& expected) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (got_.find(expected) == std::string::npos && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
                char buf[256];
                const ssize_t n = read(fd_, buf, sizeof buf);
                if (n > 0) {
                    got_.append(buf, static_cast<size_t>(n));
                }
            }
        }
        const size_t at = got_.find(expected);
        if (at == std::string::npos) {
            return got_;
        }
        std::string upTo = got_.substr(0, at + expected.size());
        got_.erase(0, at + expected.size());
        return upTo;
    }

  private:
    int fd_ = -1;
    bool locked_ = false;
    std::string got_;
};

bool WaitForPath(const std::string& path) {
    for (int i = 0; i < 250; ++i) {
        if (std::filesystem::exists(path)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

TEST(OtrspPortTest, LoggerGetsRepliesAndFrontPanelReportsAndComesBackAHundredTimes) {
    TempFolder dir;
    {
        std::ofstream ini(dir / "ZuvoBox.ini");
        ini << "[Zuvo]\nAuto=TRUE\nVerbose=TRUE\n[Box]\nVerbose=TRUE\n";
    }
    const std::string fifo = dir / "sim-control";
    ChildProcess zuvo(
        ZuvoBoxPath(),
        {"--headless", "--simulate", "--ini", dir / "ZuvoBox.ini", "--sim-control", fifo},
        PrivateEnv(dir), dir / "out", dir / "err");
    ASSERT_TRUE(zuvo.WaitForLine("Connected to Zuvo Box version 1.0-0"));
    const std::string link = dir / "zuvobox/OTRSP_DEVICE";
    ASSERT_TRUE(WaitForPath(link));
    EXPECT_TRUE(std::filesystem::is_symlink(dir / "zuvobox/WINKEY_DEVICE"));

    {
        Logger logger(link);
        ASSERT_TRUE(logger.Ok());
        // A second logger finds the port taken.
        Logger second(link);
        EXPECT_FALSE(second.Ok());

        logger.Send("?NAME\r");
        EXPECT_EQ(logger.ReadUntil("\r"), "NAMEQarn Zuvo Box (plus)\r");
        logger.Send("RX1S\r?RX\r");
        EXPECT_EQ(logger.ReadUntil("\r"), "RX1S\r");
        logger.Send("ERX1\rETX1\r");
        EXPECT_EQ(logger.ReadUntil("$TX1\r"), "$RX1S\r$TX1\r");

        // The front panel forces TX and RX to radio 2, then lets go.
        { std::ofstream(fifo) << "switches 0x0a\n"; }
        EXPECT_EQ(logger.ReadUntil("$TX2\r"), "$RX2\r$TX2\r");
        { std::ofstream(fifo) << "switches 0\n"; }
        EXPECT_EQ(logger.ReadUntil("$TX1\r"), "$RX1S\r$TX1\r");
        logger.Send("TX2\r");
        EXPECT_EQ(logger.ReadUntil("$TX2\r"), "$TX2\r");
        logger.Send("?TX\r");
        EXPECT_EQ(logger.ReadUntil("\r"), "TX2\r");
    }

    for (int i = 0; i < 100; ++i) {
        Logger logger(link);
        const std::string expected = i % 2 == 0 ? "TX2\r" : "ETX1\r";
        if (!logger.Ok()) {
            ADD_FAILURE() << "cycle " << i << ": cannot open";
            break;
        }
        logger.Send(i % 2 == 0 ? "?TX\r" : "?ETX\r");
        const std::string reply = logger.ReadUntil("\r");
        if (reply != expected) {
            ADD_FAILURE() << "cycle " << i << ": " << reply;
            break;
        }
    }

    zuvo.Signal(SIGTERM);
    EXPECT_EQ(zuvo.Wait(), 0);
    if (::testing::Test::HasFailure()) {
        for (const auto& line : zuvo.Output()) {
            std::fprintf(stderr, "ZuvoBox: %s\n", line.c_str());
        }
    }
    // A logger closing is a broken pipe (logged only because "Verbose Zuvo" is on), never
    // another read error.
    const auto out = zuvo.Output();
    for (size_t i = 0; i + 1 < out.size(); ++i) {
        if (out[i] == "SE Read Thread: ") {
            EXPECT_EQ(out[i + 1], " The pipe has been ended.");
        }
    }
}

}  // namespace
}  // namespace zuvo::test
