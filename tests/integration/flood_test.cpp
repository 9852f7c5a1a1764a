// Clients that misbehave on one host port of the headless program: one that stops reading,
// one that writes without end. Neither may hold up the other port or grow the program.

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <string>

#include "integration/child_process.h"
#include "integration/pty_client.h"

namespace zuvo::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

using Clock = std::chrono::steady_clock;

class FloodTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ofstream(dir / "ZuvoBox.ini") << "[Zuvo]\nAuto=TRUE\n[Keyer]\nUsePort=TRUE\n";
        zuvo = std::make_unique<ChildProcess>(
            ZuvoBoxPath(),
            std::vector<std::string>{"--headless", "--simulate", "--ini", dir / "ZuvoBox.ini"},
            PrivateEnv(dir), dir / "zuvo.out", dir / "zuvo.err");
        ASSERT_TRUE(zuvo->WaitForLine("Connected to Zuvo Box version 1.0-0"));
    }
    void TearDown() override {
        zuvo->Signal(SIGTERM);
        EXPECT_EQ(zuvo->Wait(), 0);
    }

    static std::string Repeat(const std::string& text, size_t bytes) {
        std::string out;
        out.reserve(bytes + text.size());
        while (out.size() < bytes) {
            out += text;
        }
        return out;
    }

    TempFolder dir;
    std::unique_ptr<ChildProcess> zuvo;
};

TEST_F(FloodTest, SwitchingClientThatStopsReadingHoldsUpNothingAndIsServedWhenItReadsAgain) {
    PtyClient keyer(dir / "zuvobox/WINKEY_DEVICE");
    PtyClient switching(dir / "zuvobox/OTRSP_DEVICE");
    ASSERT_TRUE(keyer.Ok() && switching.Ok());

    // 30,000 queries whose replies are far more than the pty holds.
    ASSERT_TRUE(switching.Write(Repeat("?TX\r", 120000), std::chrono::seconds(30)));
    ASSERT_TRUE(zuvo->WaitForLine("SE port is not reading, replies dropped"));

    const auto t0 = Clock::now();
    ASSERT_TRUE(keyer.Write(std::string("\x00\x02", 2)));  // host open
    EXPECT_NE(keyer.ReadUntil("\x0A", std::chrono::seconds(2)).find('\x0A'), std::string::npos);
    EXPECT_LT(Clock::now() - t0, std::chrono::seconds(1));

    // Reading again, the client is served as before.
    EXPECT_GT(switching.Drain(), 0u);
    ASSERT_TRUE(switching.Write("?NAME\r"));
    const std::string reply = switching.ReadUntil("NAMEQarn Zuvo Box (plus)\r");
    EXPECT_NE(reply.find("NAMEQarn Zuvo Box (plus)\r"), std::string::npos) << reply;
    EXPECT_EQ(zuvo->CountLines("SE port is not reading, replies dropped"), 1);
}

TEST_F(FloodTest, MemoryStaysFlatWhateverAClientWrites) {
    PtyClient switching(dir / "zuvobox/OTRSP_DEVICE");
    ASSERT_TRUE(switching.Ok());
    ASSERT_TRUE(switching.Write("?NAME\r"));
    switching.ReadUntil("\r");
    const long before = zuvo->PeakMemoryKiB();

    // The sanitizers make each byte too slow for megabytes, and their allocators keep what
    // is freed, so there the flood only has to get through.
    const size_t bytes = kSanitized ? 256u << 10 : 1u << 20;
    ASSERT_TRUE(switching.Write(Repeat("?TX\r", bytes), std::chrono::seconds(60)));
    const long growth = zuvo->PeakMemoryKiB() - before;
    if (!kSanitized) {
        // Held as messages, the flood would take about 45 bytes for each byte written.
        EXPECT_LT(growth, 8 * 1024) << "KiB";
    }
}

}  // namespace
}  // namespace zuvo::test
