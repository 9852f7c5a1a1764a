// A logger on the switching port of the headless program: it opens OTRSP_DEVICE in the
// runtime folder as a serial device, exactly as a logger would, while the simulated box's
// front-panel switches are driven through the control FIFO.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "integration/child_process.h"
#include "integration/pty_client.h"

namespace zuvo::test {
namespace {

using Logger = PtyClient;

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

        ASSERT_TRUE(logger.Write("?NAME\r"));
        EXPECT_EQ(logger.ReadUntil("\r"), "NAMEQarn Zuvo Box (plus)\r");
        ASSERT_TRUE(logger.Write("RX1S\r?RX\r"));
        EXPECT_EQ(logger.ReadUntil("\r"), "RX1S\r");
        ASSERT_TRUE(logger.Write("ERX1\rETX1\r"));
        EXPECT_EQ(logger.ReadUntil("$TX1\r"), "$RX1S\r$TX1\r");

        // The front panel forces TX and RX to radio 2, then lets go.
        { std::ofstream(fifo) << "switches 0x0a\n"; }
        EXPECT_EQ(logger.ReadUntil("$TX2\r"), "$RX2\r$TX2\r");
        { std::ofstream(fifo) << "switches 0\n"; }
        EXPECT_EQ(logger.ReadUntil("$TX1\r"), "$RX1S\r$TX1\r");
        ASSERT_TRUE(logger.Write("TX2\r"));
        EXPECT_EQ(logger.ReadUntil("$TX2\r"), "$TX2\r");
        ASSERT_TRUE(logger.Write("?TX\r"));
        EXPECT_EQ(logger.ReadUntil("\r"), "TX2\r");
    }

    for (int i = 0; i < 100; ++i) {
        Logger logger(link);
        const std::string expected = i % 2 == 0 ? "TX2\r" : "ETX1\r";
        if (!logger.Ok()) {
            ADD_FAILURE() << "cycle " << i << ": cannot open";
            break;
        }
        ASSERT_TRUE(logger.Write(i % 2 == 0 ? "?TX\r" : "?ETX\r"));
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

// A logger that ends its lines with CR LF: every line is understood and every query answered.
TEST(OtrspPortTest, LinesEndingCrLfAreUnderstood) {
    TempFolder dir;
    { std::ofstream(dir / "ZuvoBox.ini") << "[Zuvo]\nAuto=TRUE\n"; }
    const std::string transcript = dir / "sim.transcript";
    ChildProcess zuvo(
        ZuvoBoxPath(),
        {"--headless", "--simulate", "--ini", dir / "ZuvoBox.ini", "--sim-transcript", transcript},
        PrivateEnv(dir), dir / "out", dir / "err");
    ASSERT_TRUE(zuvo.WaitForLine("Connected to Zuvo Box version 1.0-0"));
    const std::string link = dir / "zuvobox/OTRSP_DEVICE";
    ASSERT_TRUE(WaitForPath(link));
    {
        Logger logger(link);
        ASSERT_TRUE(logger.Ok());
        // The answer comes once the box has answered the connect query: TX and RX lines
        // are taken from then on.
        ASSERT_TRUE(logger.Write("?NAME\r\n"));
        EXPECT_EQ(logger.ReadUntil("\r"), "NAMEQarn Zuvo Box (plus)\r");
        ASSERT_TRUE(logger.Write("TX2\r\nTX1\r\n?TX\r\n"));
        EXPECT_EQ(logger.ReadUntil("\r"), "TX1\r");
        ASSERT_TRUE(logger.Write("RX2\n?RX\n"));
        EXPECT_EQ(logger.ReadUntil("\r"), "RX2\r");
        // Read while the logger is still there: its going drops its PTT with one more state.
        std::vector<std::string> states;
        for (const auto& line : ReadLines(transcript)) {
            if (line.find(" host 0x30 ") != std::string::npos) {
                states.push_back(line.substr(line.find(" host ") + 6));
            }
        }
        EXPECT_EQ(states, (std::vector<std::string>{"0x30 0x01", "0x30 0x00", "0x30 0x02"}));
    }
    zuvo.Signal(SIGTERM);
    EXPECT_EQ(zuvo.Wait(), 0);
}

}  // namespace
}  // namespace zuvo::test
