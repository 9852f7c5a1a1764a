// A logger on the keyer pty of the headless interface program, with the simulated box's
// keyer at real time: host open, speed, text, echoes and status bytes, and what the box
// really keyed according to the simulator's transcript. The byte sequences are those real
// loggers send; each test waits for its reply or event with a deadline.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "integration/child_process.h"
#include "integration/keyer_client.h"

namespace zuvo::test {
namespace {

using Clock = std::chrono::steady_clock;

class KeyerIntegrationTest : public ::testing::Test {
  protected:
    virtual std::string Ini() const { return "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n"; }

    void SetUp() override {
        std::filesystem::create_directories(dir / "config/Zuvo Box");
        std::ofstream(dir / "config/Zuvo Box/ZuvoBox.ini") << Ini();
        zuvo = std::make_unique<ChildProcess>(
            ZuvoBoxPath(),
            std::vector<std::string>{"--headless", "--simulate", "--sim-transcript", Transcript(),
                                     "--sim-control", Fifo()},
            PrivateEnv(dir), dir / "zuvo.out", dir / "zuvo.err");
        ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
        const std::string link = dir / "zuvobox/WINKEY_DEVICE";
        const auto end = Clock::now() + std::chrono::seconds(5);
        while (!std::filesystem::exists(link) && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        client = std::make_unique<KeyerClient>(link);
        ASSERT_TRUE(client->Ok()) << "cannot open " << link;
    }
    void TearDown() override {
        client.reset();
        if (zuvo) {
            zuvo->Signal(SIGTERM);
            EXPECT_EQ(zuvo->Wait(), 0);
        }
    }
    std::string Transcript() const { return dir / "sim.transcript"; }
    std::string Fifo() const { return dir / "sim.control"; }
    // The simulated box's front panel: "pot 25", "paddle", ...
    void Sim(const std::string& command) const { std::ofstream(Fifo()) << command << '\n'; }
    // The event log lines printed so far that equal `line`.
    int LogCount(const std::string& line) const {
        const auto out = zuvo->Output();
        return static_cast<int>(std::count(out.begin(), out.end(), line));
    }
    // Transcript lines of reports the box received, as "0xcc 0xvv".
    std::vector<std::string> ToBox() const {
        std::vector<std::string> reports;
        for (const auto& line : ReadLines(Transcript())) {
            const size_t at = line.find(" host ");
            if (at != std::string::npos) {
                reports.push_back(line.substr(at + 6));
            }
        }
        return reports;
    }
    // Waits (20 s at most) until the simulator has keyed `n` characters.
    bool WaitForKeyed(size_t n) const {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (Keyed().size() < n && Clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return Keyed().size() >= n;
    }

    // The characters the simulated keyer started, in order.
    std::string Keyed() const {
        std::string text;
        for (const auto& line : ReadLines(Transcript())) {
            long ms = 0;
            unsigned c = 0;
            if (std::sscanf(line.c_str(), "%ld keyed 0x%x", &ms, &c) == 2) {
                text += static_cast<char>(c);
            }
        }
        return text;
    }
    // Reads until the keyer has reported idle (status 0xC0) after `echoes` echo bytes.
    std::vector<uint8_t> ReadThroughIdle(size_t echoes) {
        return client->ReadUntil(
            [echoes](const std::vector<uint8_t>& got) {
                return Echoes(got).size() >= echoes && !got.empty() && got.back() == 0xC0;
            },
            std::chrono::seconds(20));
    }

    TempFolder dir;
    std::unique_ptr<ChildProcess> zuvo;
    std::unique_ptr<KeyerClient> client;
};

TEST_F(KeyerIntegrationTest, LoggerSendsTextAndGetsEchoesAndStatus) {
    client->Write(std::vector<uint8_t>{0x00, 0x02});  // admin: host open
    auto got = client->ReadUntil([](const auto& g) { return !g.empty(); }, std::chrono::seconds(5));
    ASSERT_EQ(got, (std::vector<uint8_t>{0x0A}));
    client->Forget();

    client->Write(std::vector<uint8_t>{
        0x0E, 0x04,  // mode: echo on
        0x02, 60,    // speed 60 WPM
    });
    const std::string text = "CQ TEST DE N0CALL";
    client->Write(text);
    got = ReadThroughIdle(text.size());
    EXPECT_EQ(Echoes(got), text);
    // Busy when the first character goes out, idle at the end. A starved machine may let
    // the keyer run dry in between, which shows as one more idle-busy pair.
    const auto statuses = Statuses(got);
    ASSERT_GE(statuses.size(), 2u);
    EXPECT_EQ(statuses.size() % 2, 0u);
    for (size_t i = 0; i < statuses.size(); ++i) {
        EXPECT_EQ(statuses[i], i % 2 == 0 ? 0xC4 : 0xC0) << "status " << i;
    }
    EXPECT_EQ(Keyed(), text);
}

TEST_F(KeyerIntegrationTest, CallCorrectionWhileSendingReachesTheBox) {
    client->Write(std::vector<uint8_t>{0x00, 0x02, 0x0E, 0x04, 0x02, 30});
    client->ReadUntil([](const auto& g) { return !g.empty(); }, std::chrono::seconds(5));
    client->Forget();

    client->Write("CQ CQ CQ DE N0AB");
    // The box is busy with the first characters: fix the call's last two letters.
    client->ReadUntil([](const auto& g) { return !Echoes(g).empty(); }, std::chrono::seconds(5));
    client->Write(std::vector<uint8_t>{
        0x16, 0x01, 15,            // overwrite from position 14
        'X', 'Y', 0x16, 0x02, 16,  // append after the text
    });
    const auto got = ReadThroughIdle(16);
    EXPECT_EQ(Echoes(got), "CQ CQ CQ DE N0XY");
    EXPECT_EQ(Keyed(), "CQ CQ CQ DE N0XY");
}

// With "Verbose Output" and "Verbose Keyer" on, the log tells when the program has handled
// a box report or lost its client.
class KeyerLoggerTest : public KeyerIntegrationTest {
  protected:
    std::string Ini() const override {
        return "[Zuvo]\nAuto=TRUE\n[Box]\nVerbose=TRUE\n[Keyer]\nUsePort=TRUE\nVerbose=TRUE\n";
    }
    static std::string Hex(int b) {
        char text[8];
        std::snprintf(text, sizeof text, "0x%.2x", b & 0xFF);
        return text;
    }
    static std::string SendingCharLine(char c) {
        return "* Received Keyer Sending Char " + Hex(c) + "('" + c + "')";
    }
    std::vector<uint8_t> ReadCount(size_t n) {
        return client->ReadUntil([n](const auto& got) { return got.size() >= n; },
                                 std::chrono::seconds(5));
    }
    // Everything the logger was written before an echo test it sends now, and forgets it.
    std::vector<uint8_t> Sync() {
        constexpr uint8_t kMarker = 0x55;
        client->Write(std::vector<uint8_t>{0x00, 0x04, kMarker});
        auto got =
            client->ReadUntil([](const auto& g) { return !g.empty() && g.back() == kMarker; },
                              std::chrono::seconds(5));
        client->Forget();
        if (got.empty() || got.back() != kMarker) {
            ADD_FAILURE() << "no echo test reply";
            return got;
        }
        got.pop_back();
        return got;
    }
    // Waits until the box has keyed `n` characters, gone idle, and the program has handled
    // every idle event the box sent.
    bool WaitUntilKeyedAndIdle(size_t n) const {
        const auto end = Clock::now() + std::chrono::seconds(20);
        while (Clock::now() < end) {
            int idles = 0;
            bool idle = false;
            for (const auto& line : ReadLines(Transcript())) {
                if (line.ends_with(" keyer idle")) {
                    ++idles;
                    idle = true;
                } else if (line.find(" keyed ") != std::string::npos) {
                    idle = false;
                }
            }
            if (Keyed().size() >= n && idle && LogCount("*    Event: Idle") >= idles) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
};

TEST_F(KeyerLoggerTest, PotBytesStayInsideTheirClass) {
    client->Write(std::vector<uint8_t>{0x07});                    // no pot report yet
    client->Write(std::vector<uint8_t>{0x05, 0x0A, 0x50, 0x00});  // pot 10 WPM and 80 more
    EXPECT_EQ(Sync(), (std::vector<uint8_t>{0x80}));
    Sim("pot 80");
    ReadCount(1);
    client->Write(std::vector<uint8_t>{0x07});
    EXPECT_EQ(ReadCount(2), (std::vector<uint8_t>{0xBF, 0xBF}));
}

TEST_F(KeyerLoggerTest, BackspacedTextIsNotKeyed) {
    client->Write(std::vector<uint8_t>{0x00, 0x02, 0x02, 30});  // host open, 30 WPM
    ASSERT_EQ(ReadCount(1), (std::vector<uint8_t>{0x0A}));
    client->Write("5NN 5NN 0505\b\b\b");
    ASSERT_TRUE(WaitUntilKeyedAndIdle(9));
    EXPECT_EQ(Keyed(), "5NN 5NN 0");
}

// SO2R loggers act on idle; the box's answer to Keyer Control must not fake one.
TEST_F(KeyerLoggerTest, IdleOnlyWhenTheTextHasBeenKeyed) {
    client->Write("PARIS");  // without host open: the program sends Keyer Control itself
    ASSERT_TRUE(WaitUntilKeyedAndIdle(5));
    EXPECT_EQ(Sync(), (std::vector<uint8_t>{0xC4, 0xC0}));

    client->Write(std::vector<uint8_t>{0x00, 0x02});
    ASSERT_EQ(ReadCount(1), (std::vector<uint8_t>{0x0A}));
    client->Forget();
    client->Write("PARIS");
    ASSERT_EQ(ReadCount(1), (std::vector<uint8_t>{0xC4}));
    client->Write(std::vector<uint8_t>{0x02, 0x00});  // mid-message: the speed to the pot
    ASSERT_TRUE(WaitUntilKeyedAndIdle(10));
    EXPECT_EQ(Sync(), (std::vector<uint8_t>{0xC4, 0x8A, 0xC0}));
    EXPECT_EQ(Keyed(), "PARISPARIS");
}

TEST_F(KeyerLoggerTest, NextLoggerIsNotReadAsTheRestOfTheLastOnesCommand) {
    client->Write(std::vector<uint8_t>{0x00, 0x02});
    ASSERT_EQ(ReadCount(1), (std::vector<uint8_t>{0x0A}));
    client->Write(std::vector<uint8_t>{0x02});  // set speed, then the logger quits
    client.reset();
    // A pot byte is written "(unsent)" once the program has seen the client go.
    const auto end = Clock::now() + std::chrono::seconds(5);
    bool lost = false;
    for (int wpm = 21; !lost && Clock::now() < end; wpm = wpm == 21 ? 22 : 21) {
        Sim("pot " + std::to_string(wpm));
        lost = zuvo->WaitForLine("* KE response (unsent) " + Hex(0x80 | (wpm - 10)), 1,
                                 std::chrono::milliseconds(300));
    }
    ASSERT_TRUE(lost);

    client = std::make_unique<KeyerClient>(dir / "zuvobox/WINKEY_DEVICE");
    ASSERT_TRUE(client->Ok());
    client->Write(std::vector<uint8_t>{0x00, 0x02, 0x15});  // host open, status
    EXPECT_EQ(Sync(), (std::vector<uint8_t>{0x0A, 0xC0}));
    const auto toBox = ToBox();
    EXPECT_EQ(std::count(toBox.begin(), toBox.end(), "0x11 0x15"), 0) << "speed set to 21 WPM";
}

// 129 "T"s overflow the buffer while the box keys the first two; the report of the second
// comes after the overflow and must not cost "CQ" its "C".
TEST_F(KeyerLoggerTest, TextAfterAnOverflowIsKeyedFromItsFirstCharacter) {
    client->Write(std::vector<uint8_t>{0x00, 0x02, 0x02, 10});  // host open, 10 WPM
    ASSERT_EQ(ReadCount(1), (std::vector<uint8_t>{0x0A}));
    client->Write(std::string(128, 'T'));
    ASSERT_TRUE(zuvo->WaitForLine(SendingCharLine('T')));  // the second "T" is handed now
    client->Write("T");
    ASSERT_TRUE(zuvo->WaitForLine("Keyer buffer overflow"));
    ASSERT_TRUE(zuvo->WaitForLine(SendingCharLine('T'), 2));
    client->Write("CQ");  // while the box still keys the second "T"
    EXPECT_TRUE(WaitForKeyed(4));
    EXPECT_EQ(Keyed(), "TTCQ");
}

// The box keys "PARIS" with late echoes; the logger clears while the echo of "P" is held
// and sends "AB" with early echoes. Before "AB" only characters keyed in full may be echoed.
TEST_F(KeyerLoggerTest, ClearDropsTheEchoOfTheAbortedCharacter) {
    client->Write(std::vector<uint8_t>{0x00, 0x02, 0x0E, 0x04, 0x02, 10});  // echo, 10 WPM
    ASSERT_EQ(ReadCount(1), (std::vector<uint8_t>{0x0A}));
    client->Forget();
    client->Write("PARIS");
    ASSERT_TRUE(zuvo->WaitForLine(SendingCharLine('P')));
    client->Write(std::vector<uint8_t>{0x0A, 0x16, 0x00, 'A', 'B'});
    ASSERT_TRUE(WaitUntilKeyedAndIdle(3));
    const std::string echoes = Echoes(Sync());
    ASSERT_TRUE(echoes.ends_with("AB")) << echoes;
    EXPECT_TRUE(std::string("PARIS").starts_with(echoes.substr(0, echoes.size() - 2))) << echoes;
    EXPECT_TRUE(Keyed().ends_with("AB")) << Keyed();
}

}  // namespace
}  // namespace zuvo::test
