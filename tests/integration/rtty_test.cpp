// An RTTY program (zuvobox-rtty) keying the simulated box through the headless ZuvoBox, both
// as separate processes talking through the shared block and the message socket.

#include <sys/socket.h>
#include <sys/un.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "integration/child_process.h"

namespace zuvo::test {
namespace {

struct Line {
    long ms = 0;
    std::string who;  // "host", "box" or a note's first word
    int code = -1;
    int value = -1;
};

class RttyIntegrationTest : public ::testing::Test {
  protected:
    std::vector<std::string> Env() const {
        std::vector<std::string> env = PrivateEnv(dir);
        env.push_back("ZUVOBOX_RTTY_SHM=" + blockName);  // the later entry wins
        return env;
    }
    std::unique_ptr<ChildProcess> StartZuvoBox(const std::string& name = "zuvo") {
        return std::make_unique<ChildProcess>(
            ZuvoBoxPath(),
            std::vector<std::string>{"--headless", "--simulate", "--sim-transcript",
                                     dir / "box.transcript"},
            Env(), dir / (name + ".out"), dir / (name + ".err"));
    }
    // Runs zuvobox-rtty to its end; returns its exit code, its output in out.
    int Rtty(const std::vector<std::string>& args, std::string* out = nullptr,
             std::string* err = nullptr) {
        const std::string name = "rtty" + std::to_string(runs_++);
        ChildProcess rtty(std::string(ZUVO_BIN_DIR) + "/zuvobox-rtty", args, Env(),
                          dir / (name + ".out"), dir / (name + ".err"));
        const int code = rtty.Wait(std::chrono::seconds(30));
        if (out != nullptr) {
            *out = ReadFile(dir / (name + ".out"));
        }
        if (err != nullptr) {
            *err = ReadFile(dir / (name + ".err"));
        }
        return code;
    }
    std::vector<Line> Transcript() const {
        std::vector<Line> lines;
        for (const auto& text : ReadLines(dir / "box.transcript")) {
            Line line;
            char who[16] = {};
            unsigned code = 0, value = 0;
            const int n =
                std::sscanf(text.c_str(), "%ld %15s 0x%x 0x%x", &line.ms, who, &code, &value);
            if (n < 2) {
                continue;
            }
            line.who = who;
            if (n == 4) {
                line.code = static_cast<int>(code);
                line.value = static_cast<int>(value);
            }
            lines.push_back(line);
        }
        return lines;
    }

    TempFolder dir;
    std::string blockName = "/zuvo-it-rtty-" + std::to_string(getpid());
    int runs_ = 0;
};

TEST_F(RttyIntegrationTest, TextReachesTheBoxInOrderAndPttWaitsForTheLastCharacter) {
    std::string out, err;
    EXPECT_EQ(2, Rtty({"--text", "X"}, nullptr, &err));
    EXPECT_NE(std::string::npos, err.find("no Zuvo Box interface program is running")) << err;

    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));

    const std::string text = "CQ CQ DE N0CALL";
    ASSERT_EQ(0, Rtty({"--station", "1", "--speed", "45", "--length", "5", "--stop", "1", "--text",
                       text, "--counter"},
                      &out, &err))
        << err;
    EXPECT_EQ(std::to_string(text.size()) + "\n", out);  // the counter: every character

    // Give the box time to finish the last character and ZuvoBox to release PTT.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (ReadFile(dir / "box.transcript").find("fsk idle") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    zuvo->Signal(SIGTERM);
    EXPECT_EQ(0, zuvo->Wait());

    const auto lines = Transcript();
    std::string keyed;
    size_t firstChar = lines.size(), lastChar = 0, speedBits = lines.size();
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].who == "host" && lines[i].code == 0x43) {
            keyed += static_cast<char>(lines[i].value);
            firstChar = std::min(firstChar, i);
            lastChar = i;
        }
        if (lines[i].who == "host" && lines[i].code == 0x42 && speedBits == lines.size()) {
            speedBits = i;
        }
    }
    EXPECT_EQ(text, keyed);
    ASSERT_LT(speedBits, firstChar);
    EXPECT_EQ(0x41, lines[speedBits].value);  // 45 baud, 5 bits, 1.5 stop bits

    // PTT (Zuvo State bit 3) on before the first character...
    size_t pttOn = lines.size();
    for (size_t i = 0; i < firstChar; ++i) {
        if (lines[i].who == "host" && lines[i].code == 0x30 && (lines[i].value & 0x08)) {
            pttOn = i;
        }
    }
    EXPECT_LT(pttOn, firstChar);
    // ...and off only after the box reported it had finished the last one.
    size_t finished = lines.size(), pttOff = lines.size();
    for (size_t i = lastChar; i < lines.size(); ++i) {
        if (finished == lines.size() && lines[i].who == "box" && lines[i].code == 0x41 &&
            (lines[i].value & 0x02)) {
            finished = i;
        }
        if (pttOff == lines.size() && lines[i].who == "host" && lines[i].code == 0x30 &&
            !(lines[i].value & 0x08)) {
            pttOff = i;
        }
    }
    ASSERT_LT(finished, lines.size());
    ASSERT_LT(pttOff, lines.size());
    EXPECT_LT(finished, pttOff);
    // 15 characters of 7.5 bits at 45 baud take 2.5 s on the air.
    EXPECT_GE(lines[finished].ms - lines[firstChar].ms, 2400);

    // A clean exit removes the block: the program is gone for RTTY programs too.
    EXPECT_EQ(2, Rtty({"--counter"}));
}

TEST_F(RttyIntegrationTest, BadMessagesAreLoggedAndTheCounterIsReadable) {
    auto zuvo = StartZuvoBox();
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    std::string out;
    EXPECT_EQ(0, Rtty({"--raw", "0x00410506"}));  // station 5
    EXPECT_TRUE(zuvo->WaitForLine("RE - bad station number 0x05"));

    // Datagrams of a wrong size are dropped, and noted once.
    const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = dir / "lock/Zuvo Box RTTY Message";
    std::strcpy(addr.sun_path, path.c_str());
    const char junk[5] = {6, 1, 'A', 0, 0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(5, sendto(s, junk, 5, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
    }
    close(s);
    EXPECT_TRUE(zuvo->WaitForLine(
        "RE - ignored a message of 5 bytes (4 or 8 expected); further ones are not logged"));

    // Station 3 is not on the air: its characters are only counted.
    EXPECT_EQ(0, Rtty({"--station", "3", "--no-ptt", "--text", "ABC", "--counter"}, &out));
    EXPECT_EQ("3\n", out);
    zuvo->Signal(SIGTERM);
    EXPECT_EQ(0, zuvo->Wait());
    const auto lines = Transcript();
    EXPECT_FALSE(std::any_of(lines.begin(), lines.end(),
                             [](const Line& l) { return l.who == "host" && l.code == 0x43; }));
}

TEST_F(RttyIntegrationTest, MessagesArriveWhateverTheLengthOfTheRuntimeFolder) {
    // Longer than a socket address can hold.
    const std::string runtime = dir / std::string(120, 'r');
    std::filesystem::create_directories(runtime);
    auto env = Env();
    env.push_back("XDG_RUNTIME_DIR=" + runtime);
    ChildProcess zuvo(ZuvoBoxPath(), {"--headless", "--simulate"}, env, dir / "zuvo.out",
                      dir / "zuvo.err");
    ASSERT_TRUE(zuvo.WaitForLine("Connected to Zuvo Box version 1.0-0"));
    std::string err;
    EXPECT_EQ(0, Rtty({"--raw", "0x00410506"}, nullptr, &err)) << err;  // station 5
    EXPECT_TRUE(zuvo.WaitForLine("RE - bad station number 0x05"));
    zuvo.Signal(SIGTERM);
    EXPECT_EQ(0, zuvo.Wait());
}

TEST_F(RttyIntegrationTest, BlockLeftByAKilledProgramIsTakenOverByTheNextStart) {
    std::string out, err;
    {
        auto zuvo = StartZuvoBox();
        ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
        EXPECT_EQ(0, Rtty({"--station", "3", "--no-ptt", "--text", "AB", "--counter"}, &out));
        EXPECT_EQ("2\n", out);
        zuvo->Signal(SIGKILL);
        EXPECT_EQ(-2, zuvo->Wait());
    }
    EXPECT_EQ(2, Rtty({"--counter"}, nullptr, &err));
    EXPECT_NE(std::string::npos, err.find("which has ended")) << err;

    auto zuvo = StartZuvoBox("second");
    ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    EXPECT_EQ(0, Rtty({"--station", "3", "--counter"}, &out));
    EXPECT_EQ("0\n", out);
    EXPECT_EQ(0, Rtty({"--station", "3", "--no-ptt", "--text", "C", "--counter"}, &out));
    EXPECT_EQ("1\n", out);
    zuvo->Signal(SIGTERM);
    EXPECT_EQ(0, zuvo->Wait());
}

}  // namespace
}  // namespace zuvo::test
