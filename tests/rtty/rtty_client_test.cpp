#include "rtty/rtty_client.h"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "rtty/rtty_bridge.h"

namespace zuvo {
namespace {

using namespace std::chrono_literals;

// The interface program as a client sees it: the counter of a station advances a few pauses
// after each character, the way the bridge counts it when the box takes it.
class FakeTransport : public IRttyTransport {
  public:
    bool running = true;
    bool openResult = true;
    int pausesPerChar = 3;
    bool swallow = false;  // the program never takes a character
    std::vector<uint32_t> sent;
    uint32_t counters[4] = {0xFFFFFFFE, 0, 0, 0};  // station 1 wraps during the test
    int maxOutstanding = 0;

    bool Open(std::string& error) override {
        if (!openResult) {
            error = "none";
        }
        return openResult;
    }
    bool Send(uint32_t wParam, std::string&) override {
        sent.push_back(wParam);
        if ((wParam & 0xFF) == kRttyChar) {
            queued_.push_back(((wParam >> 8) & 0xFF) - 1);
            maxOutstanding = std::max(maxOutstanding, static_cast<int>(queued_.size()));
        }
        return true;
    }
    uint32_t ReadCounter(int station) const override { return counters[station - 1]; }
    bool ProgramRunning() const override { return running; }
    void Pause() override {
        if (swallow || queued_.empty() || ++pauses_ < pausesPerChar) {
            return;
        }
        pauses_ = 0;
        ++counters[queued_.front()];
        queued_.pop_front();
    }

  private:
    std::deque<int> queued_;
    int pauses_ = 0;
};

TEST(RttyClient, SettingsAndPttArePackedIntoTheMessage) {
    FakeTransport transport;
    RttyClient client(transport);
    ASSERT_TRUE(client.Connect());
    EXPECT_TRUE(client.SetSpeed(2, 45));
    EXPECT_TRUE(client.SetLength(2, 5));
    EXPECT_TRUE(client.SetStopBits(2, 2));
    EXPECT_TRUE(client.SetPtt(2, true));
    EXPECT_TRUE(client.Hello(4));
    EXPECT_EQ((std::vector<uint32_t>{0x002D0202, 0x00050203, 0x00020204, 0x00010205, 0x00000401}),
              transport.sent);
}

TEST(RttyClient, RefusesWhatTheBridgeWouldNotTake) {
    FakeTransport transport;
    RttyClient client(transport);
    EXPECT_FALSE(client.SetPtt(1, true));  // not connected yet
    ASSERT_TRUE(client.Connect());
    EXPECT_FALSE(client.SetSpeed(1, 60));
    EXPECT_NE(std::string::npos, client.Error().find("60 baud"));
    EXPECT_FALSE(client.SetLength(1, 9));
    EXPECT_FALSE(client.SetStopBits(1, 3));
    EXPECT_FALSE(client.SendChar(0, 'A'));
    EXPECT_FALSE(client.SendChar(5, 'A'));
    EXPECT_TRUE(transport.sent.empty());
    EXPECT_TRUE(client.SendRaw(PackRttyMessage(kRttyChar, 5, 'A')));  // tools may still
}

TEST(RttyClient, TextKeepsOneCharacterOutstandingAcrossACounterWrap) {
    FakeTransport transport;
    RttyClient client(transport);
    ASSERT_TRUE(client.Connect());
    ASSERT_TRUE(client.SendText(1, "CQ DE", 1s)) << client.Error();
    EXPECT_EQ(1, transport.maxOutstanding);
    EXPECT_EQ(3u, client.Counter(1));  // 0xFFFFFFFE + 5
    ASSERT_EQ(5u, transport.sent.size());
    EXPECT_EQ(0x00430106u, transport.sent[0]);
}

TEST(RttyClient, StuckCounterOrEndedProgramEndsTheWait) {
    FakeTransport transport;
    transport.swallow = true;
    RttyClient client(transport);
    ASSERT_TRUE(client.Connect());
    EXPECT_FALSE(client.SendText(2, "AB", 20ms));
    EXPECT_EQ(1u, transport.sent.size());  // B never went: A was not taken
    EXPECT_NE(std::string::npos, client.Error().find("counter stayed at 0"));

    std::atomic<bool> stop{true};
    client.SetStopFlag(&stop);
    EXPECT_FALSE(client.WaitForCounter(2, 1, 10s));
    EXPECT_EQ("interrupted", client.Error());
    client.SetStopFlag(nullptr);

    transport.running = false;
    EXPECT_FALSE(client.WaitForCounter(2, 1, 1s));
    EXPECT_EQ("the interface program has ended", client.Error());
}

TEST(RttyClient, ConnectFailurePassesTheReasonOn) {
    FakeTransport transport;
    transport.openResult = false;
    RttyClient client(transport);
    EXPECT_FALSE(client.Connect());
    EXPECT_EQ("none", client.Error());
}

}  // namespace
}  // namespace zuvo
