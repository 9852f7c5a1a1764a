// Strict serial clients on the ptys of the headless program: a client that gives up when a
// modem-control call fails (tests/integration/strict_serial_client.c), alone and under
// zuvobox-run, on the keyer port and on the switching port, whose RTS keys PTT.

#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/child_process.h"

namespace zuvo::test {
namespace {

using Clock = std::chrono::steady_clock;

std::string RunPath() {
    return std::string(ZUVO_BIN_DIR) + "/zuvobox-run";
}

std::string ClientPath() {
    return std::string(ZUVO_TEST_BIN_DIR) + "/strict_serial_client";
}

template <typename Done>
bool WaitFor(Done done, std::chrono::seconds timeout = std::chrono::seconds(20)) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class StrictClientTest : public ::testing::Test {
  protected:
    void StartZuvoBox() {
        std::filesystem::create_directories(dir / "config/Zuvo Box");
        std::ofstream(dir / "config/Zuvo Box/ZuvoBox.ini")
            << "[Zuvo]\nAuto=TRUE\nUsePort=TRUE\nVerbose=TRUE\n[Keyer]\nUsePort=TRUE\n";
        zuvo = std::make_unique<ChildProcess>(
            ZuvoBoxPath(),
            std::vector<std::string>{"--headless", "--simulate", "--sim-transcript",
                                     dir / "sim.transcript"},
            Env(), dir / "zuvo.out", dir / "zuvo.err");
        ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(Link("WINKEY_DEVICE")); }));
        ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(Link("OTRSP_DEVICE")); }));
    }
    void TearDown() override {
        if (zuvo) {
            zuvo->Signal(SIGTERM);
            EXPECT_EQ(zuvo->Wait(), 0);
        }
        if (HasFailure()) {
            for (const char* name : {"zuvo.out", "client.out", "client.err"}) {
                std::fprintf(stderr, "--- %s\n%s", name, ReadFile(dir / name).c_str());
            }
        }
    }
    std::vector<std::string> Env() const { return PrivateEnv(dir); }
    std::string Link(const std::string& name) const { return dir / ("zuvobox/" + name); }
    std::unique_ptr<ChildProcess> Client(const std::string& program,
                                         const std::vector<std::string>& args) const {
        return std::make_unique<ChildProcess>(program, args, Env(), dir / "client.out",
                                              dir / "client.err");
    }
    // What the simulated box received or keyed, one transcript line each, as "0xcc 0xvv".
    std::vector<std::string> Transcript(const std::string& kind) const {
        std::vector<std::string> found;
        const std::string tag = " " + kind + " ";
        for (const auto& line : ReadLines(dir / "sim.transcript")) {
            const size_t at = line.find(tag);
            if (at != std::string::npos) {
                found.push_back(line.substr(at + tag.size()));
            }
        }
        return found;
    }
    std::string Keyed() const {
        std::string text;
        for (const auto& c : Transcript("keyed")) {
            text += static_cast<char>(std::stoi(c, nullptr, 16));
        }
        return text;
    }
    // The Zuvo State values the box was sent, in order.
    std::vector<int> States() const {
        std::vector<int> states;
        for (const auto& report : Transcript("host")) {
            if (report.rfind("0x30 ", 0) == 0) {
                states.push_back(std::stoi(report.substr(5), nullptr, 16));
            }
        }
        return states;
    }
    std::vector<std::string> PttLines() const {
        std::vector<std::string> lines;
        for (const auto& line : zuvo->Output()) {
            if (line.rfind("* Got SE PTT", 0) == 0) {
                lines.push_back(line);
            }
        }
        return lines;
    }

    TempFolder dir;
    std::unique_ptr<ChildProcess> zuvo;
};

// Alone, the client gives up at its first modem-control call, before a single byte, as the
// loggers that led to zuvobox-run do. Under it, on the /dev/pts/N the link points at and
// with system calls that bypass the C library, it opens the keyer and keys text; other
// files keep failing; a thread waiting for modem changes learns of ZuvoBox going away.
TEST_F(StrictClientTest, KeyerClientGivesUpAloneAndKeysTextUnderTheWrapper) {
    StartZuvoBox();
    auto alone = Client(ClientPath(), {Link("WINKEY_DEVICE"), "send:0002", "expect:0A"});
    EXPECT_EQ(alone->Wait(), 2);
    EXPECT_EQ(ReadFile(dir / "client.err"), "TIOCMGET: Inappropriate ioctl for device\n");
    EXPECT_TRUE(Transcript("keyed").empty());

    const std::string pts = std::filesystem::read_symlink(Link("WINKEY_DEVICE"));
    auto client = Client(RunPath(), {ClientPath(), "--raw", pts, "others",
                                     "send:0002",      // admin: host open
                                     "expect:0A",      // its reply
                                     "send:0E04023C",  // echo on, 60 WPM
                                     "text:TEST", "wait-lines", "still-waiting", "hangup"});
    ASSERT_TRUE(client->WaitForLine("waiting for the hang-up"));
    EXPECT_EQ(client->Output().front(), "got 0A");
    EXPECT_TRUE(WaitFor([&] { return Keyed().size() >= 4; }));
    EXPECT_EQ(Keyed(), "TEST");

    zuvo->Signal(SIGTERM);
    EXPECT_EQ(zuvo->Wait(), 0);
    zuvo.reset();
    EXPECT_EQ(client->Wait(), 0);
    EXPECT_EQ(client->Output().back(), "TIOCMIWAIT: Input/output error");
}

// A logger started by a shell under zuvobox-run keys PTT with RTS, from another thread too,
// while a thread of it waits for modem changes; its going with RTS on drops PTT.
TEST_F(StrictClientTest, SwitchingClientRtsKeysPttAndItsDeathDropsIt) {
    StartZuvoBox();
    auto client = Client(
        RunPath(), {"/bin/sh", "-c", "\"$0\" \"$@\"; exit $?", ClientPath(), Link("OTRSP_DEVICE"),
                    "wait-lines", "thread:rts:1", "text:?X\\r", "expect:58310D",  // X1
                    "still-waiting", "rts:0", "text:?X\\r",
                    "expect:58300D",  // X0
                    "rts:1", "text:?X\\r", "expect:58310D", "die"});
    EXPECT_EQ(client->Wait(std::chrono::seconds(20)), 128 + SIGKILL);
    EXPECT_EQ(client->Output(),
              (std::vector<std::string>{"got 58 31 0D", "got 58 30 0D", "got 58 31 0D"}));
    EXPECT_EQ(PttLines(), (std::vector<std::string>{"* Got SE PTT  0x01", "* Got SE PTT  0x00",
                                                    "* Got SE PTT  0x01"}));
    // PTT (bit 3) on, off, on, and off once the client has gone.
    std::vector<int> ptt;
    EXPECT_TRUE(WaitFor([&] {
        ptt.clear();
        int last = 0;
        for (int state : States()) {
            if ((state & 0x08) != last) {
                last = state & 0x08;
                ptt.push_back(last);
            }
        }
        return ptt.size() >= 4;
    }));
    EXPECT_EQ(ptt, (std::vector<int>{8, 0, 8, 0}));
}

// The wrapper's own answers: its program's exit status, and what it could not run.
TEST(ZuvoBoxRunTest, PassesTheExitStatusOnAndNamesWhatItCannotRun) {
    TempFolder dir;
    ChildProcess exits(RunPath(), {"/bin/sh", "-c", "exit 3"}, {}, dir / "out", dir / "err");
    EXPECT_EQ(exits.Wait(), 3);
    ChildProcess missing(RunPath(), {dir / "no-such-logger"}, {}, dir / "out", dir / "err");
    EXPECT_EQ(missing.Wait(), 127);
    EXPECT_EQ(ReadFile(dir / "err"), "zuvobox-run: cannot run " + dir / "no-such-logger" +
                                         ": No such file or directory\n");
}

}  // namespace
}  // namespace zuvo::test
