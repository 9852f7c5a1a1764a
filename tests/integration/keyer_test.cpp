// A logger on the keyer pty of the headless interface program, with the simulated box's
// keyer at real time: host open, speed, text, echoes and status bytes, and what the box
// really keyed according to the simulator's transcript.

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
    void SetUp() override {
        std::filesystem::create_directories(dir / "config/Zuvo Box");
        std::ofstream(dir / "config/Zuvo Box/ZuvoBox.ini")
            << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";
        zuvo = std::make_unique<ChildProcess>(
            ZuvoBoxPath(),
            std::vector<std::string>{"--headless", "--simulate", "--sim-transcript", Transcript()},
            std::vector<std::string>{"XDG_RUNTIME_DIR=" + dir.Path(),
                                     "XDG_CONFIG_HOME=" + dir / "config"},
            dir / "zuvo.out", dir / "zuvo.err");
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

}  // namespace
}  // namespace zuvo::test
