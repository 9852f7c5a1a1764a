// A logger on the keyer pty of the headless interface program, with the simulated box's
// keyer at real time: host open, speed, text, echoes and status bytes, and what the box
// really keyed according to the simulator's transcript.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

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

namespace zuvo::test {
namespace {

using Clock = std::chrono::steady_clock;

// The logger's end of the keyer pty.
class KeyerClient {
  public:
    explicit KeyerClient(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~KeyerClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }

    void Write(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Write(const std::string& text) const {
        Write(std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Reads until `done` says so or the time is up; returns everything read.
    template <typename Done>
    std::vector<uint8_t> ReadUntil(Done done, std::chrono::milliseconds timeout) {
        const auto end = Clock::now() + timeout;
        while (!done(received_) && Clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 1))) <= 0) {
                continue;
            }
            uint8_t buf[256];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                received_.insert(received_.end(), buf, buf + n);
            }
        }
        return received_;
    }
    void Forget() { received_.clear(); }

  private:
    int fd_ = -1;
    std::vector<uint8_t> received_;
};

bool IsStatus(uint8_t b) {
    return (b & 0xC0) == 0xC0;
}

std::string Echoes(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (!IsStatus(b)) {
            text += static_cast<char>(b);
        }
    }
    return text;
}

std::vector<uint8_t> Statuses(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    for (uint8_t b : bytes) {
        if (IsStatus(b)) {
            out.push_back(b);
        }
    }
    return out;
}

class KeyerIntegrationTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(dir / "config/Zuvo Box");
        std::ofstream(dir / "config/Zuvo Box/ZuvoBox.ini")
            << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";
        zuvo = std::make_unique<ChildProcess>(
            ZuvoBoxPath(),
            std::vector<std::string>{"--headless", "--simulate", "--sim-transcript", Transcript()},
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
