#include "sim/sim_box.h"

#include <gtest/gtest.h>

#include <sstream>
#include <utility>
#include <vector>

#include "link/box_protocol.h"

namespace zuvo::sim {
namespace {

using Pair = std::pair<int, int>;

class SimBoxTest : public ::testing::Test {
  protected:
    // Everything the box has ready now, as {code, value}.
    std::vector<Pair> Drain() {
        std::vector<Pair> out;
        SimReport r;
        while (box.PopReady(r)) {
            out.emplace_back(r.code, r.value);
        }
        return out;
    }
    std::vector<Pair> Send(uint8_t code, uint8_t value) {
        box.ReceiveReport(code, value);
        return Drain();
    }

    VirtualClock clock;
    SimBox box{clock};
};

TEST_F(SimBoxTest, QueriesAnswerWithTheAskedCodeAndCurrentValue) {
    box.SetVersion(2, 1, 5, 7);
    EXPECT_EQ(Send(0, 0), (std::vector<Pair>{{0, 0x21}}));  // version byte, not an echo
    EXPECT_EQ(Send(0, 1), (std::vector<Pair>{{1, 5}}));
    EXPECT_EQ(Send(0, 2), (std::vector<Pair>{{2, 7}}));
    EXPECT_EQ(Send(0, 0x11), (std::vector<Pair>{{0x11, 20}}));    // default speed
    EXPECT_EQ(Send(0, 0x1B), (std::vector<Pair>{{0x1B, 128}}));   // default weight
    EXPECT_EQ(Send(0, 0x10), (std::vector<Pair>{{0x10, 0x10}}));  // can take a character
    // Every code of both connect queries has an answer, none of them Not Recognized.
    for (uint8_t code : box::kInterfaceConnectQuery) {
        auto answer = Send(0, code);
        ASSERT_EQ(answer.size(), 1u) << int(code);
        EXPECT_EQ(answer[0].first, code);
    }
    for (uint8_t code : box::kUtilityConnectQuery) {
        auto answer = Send(0, code);
        ASSERT_EQ(answer.size(), 1u) << int(code);
        EXPECT_EQ(answer[0].first, code);
    }
}

TEST_F(SimBoxTest, BothCommandsAreStoredAndEchoedOnce) {
    EXPECT_EQ(Send(0x11, 33), (std::vector<Pair>{{0x11, 33}}));
    EXPECT_EQ(Send(0, 0x11), (std::vector<Pair>{{0x11, 33}}));
    EXPECT_EQ(Send(0x20, 0x1C), (std::vector<Pair>{{0x20, 0x1C}}));  // Aux keeps bit 4
    EXPECT_EQ(Send(0x34, 0x23), (std::vector<Pair>{{0x34, 0x23}}));  // Map keeps what was sent
    EXPECT_EQ(Send(0x33, 200), (std::vector<Pair>{{0x33, 200}}));
    EXPECT_EQ(Send(0x50, 0xC1), (std::vector<Pair>{{0x50, 0xC1}}));  // Comp keeps the byte
    EXPECT_EQ(Send(0x1E, 0x85), (std::vector<Pair>{{0x1E, 5}}));     // pot range: plain speed
    EXPECT_EQ(Send(0x1F, 0x80 | 45), (std::vector<Pair>{{0x1F, 45}}));
    EXPECT_EQ(Send(0, 0x1E), (std::vector<Pair>{{0x1E, 5}}));
    EXPECT_EQ(Send(0x54, 1), (std::vector<Pair>{{0x54, 1}}));
    EXPECT_EQ(Send(0x18, 0xFB), (std::vector<Pair>{{0x18, 0xFB}}));
    EXPECT_EQ(Send(0x15, 0), (std::vector<Pair>{{0x15, 0}}));
    EXPECT_EQ(Send(0, 0x18), (std::vector<Pair>{{0x18, 0}}));  // abort drops the speed change
    EXPECT_EQ(Send(0x13, 'E'), (std::vector<Pair>{{0x13, 1}}));
    EXPECT_EQ(Send(0x14, 'T'), (std::vector<Pair>{{0x14, 0}}));
    // Out-only RTTY codes are taken silently and can be read back.
    EXPECT_TRUE(Send(0x42, 0x5A).empty());
    EXPECT_TRUE(Send(0x43, 'R').empty());
    EXPECT_EQ(Send(0, 0x42), (std::vector<Pair>{{0x42, 0x5A}}));
}

TEST_F(SimBoxTest, KeyerControlAnswersStateBits) {
    EXPECT_EQ(Send(0, 0x16), (std::vector<Pair>{{0x16, 0x08}}));  // follows the pot at start
    EXPECT_EQ(Send(0x16, 4), (std::vector<Pair>{{0x16, 0x00}}));
    EXPECT_EQ(Send(0x16, 2), (std::vector<Pair>{{0x16, 0x02}}));
    EXPECT_EQ(Send(0x16, 8), (std::vector<Pair>{{0x16, 0x0A}}));
    EXPECT_EQ(Send(0x16, 1), (std::vector<Pair>{{0x16, 0x08}}));
    Send(0x16, 2);
    box.PressPaddle();  // the paddle ends tuning
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x17, 4}}));
    EXPECT_EQ(Send(0, 0x16), (std::vector<Pair>{{0x16, 0x08}}));
}

TEST_F(SimBoxTest, UnknownAndOutOnlyCodesAreNotRecognized) {
    for (uint8_t code : {1, 2, 5, 0x10, 0x17, 0x1C, 0x1D, 0x32, 0x41, 0x7F, 0x80, 0xFF}) {
        EXPECT_EQ(Send(code, 0x12), (std::vector<Pair>{{0x7F, code}})) << int(code);
    }
    // A Query of something the box never reports names the asked code.
    EXPECT_EQ(Send(0, 0x03), (std::vector<Pair>{{0x7F, 0x03}}));
    EXPECT_EQ(Send(0, 0x60), (std::vector<Pair>{{0x7F, 0x60}}));
}

TEST_F(SimBoxTest, FrontPanelForcesTheStateInForce) {
    EXPECT_EQ(Send(0x30, 0x1D), (std::vector<Pair>{{0x30, 0x1D}}));  // TX2 RX1 stereo reverse PTT
    box.SetSwitches(box::kSwitchTx1 | box::kSwitchRx2);
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x32, 0x09}}));  // only the switches are reported
    // TX forced to radio 1, RX forced to 2 without stereo/reverse; PTT as the host asked.
    EXPECT_EQ(Send(0, 0x30), (std::vector<Pair>{{0x30, 0x0A}}));
    EXPECT_EQ(Send(0x30, 0x05), (std::vector<Pair>{{0x30, 0x02}}));
    box.SetSwitches(box::kSwitchTx1 | box::kSwitchRx2);  // unchanged: nothing
    EXPECT_TRUE(Drain().empty());
    box.SetSwitches(box::kSwitchPttInput);  // released; the PTT input is not the PTT bit
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x32, 0x10}}));
    EXPECT_EQ(Send(0, 0x30), (std::vector<Pair>{{0x30, 0x05}}));  // back to what was asked
    box.SetReportForcedState(true);
    box.SetSwitches(box::kSwitchTx1);
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x32, 0x01}, {0x30, 0x04}}));
}

TEST_F(SimBoxTest, PotReportsOnlyChanges) {
    box.SetPot(25);
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x1C, 25}}));
    box.SetPot(25);
    EXPECT_TRUE(Drain().empty());
    // In pot mode the speed follows; with host speed it stays.
    EXPECT_EQ(Send(0, 0x11), (std::vector<Pair>{{0x11, 25}}));
    Send(0x16, 4);
    Send(0x11, 30);
    box.SetPot(12);
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x1C, 12}}));
    EXPECT_EQ(Send(0, 0x11), (std::vector<Pair>{{0x11, 30}}));
}

TEST_F(SimBoxTest, DelayHoldsRepliesBackInOrder) {
    box.SetReplyDelayMs(5);
    box.ReceiveReport(0x11, 30);
    clock.Advance(2);
    box.SetReplyDelayMs(0);  // a shorter delay never lets a later report overtake
    box.ReceiveReport(0x12, 7);
    EXPECT_TRUE(Drain().empty());
    EXPECT_EQ(box.NextEventMs(), 5);
    EXPECT_EQ(box.NextEventAfterMs(5), -1);
    clock.Advance(2);
    EXPECT_TRUE(Drain().empty());
    clock.Advance(1);
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x11, 30}, {0x12, 7}}));
    EXPECT_EQ(box.NextEventMs(), -1);
}

TEST_F(SimBoxTest, ResetDefaultsRestoresAndDropsOffUsbForAWhile) {
    box.SetVersion(1, 3, 2, 0);
    Send(0x11, 35);
    Send(0x20, 0x15);
    box.SetPot(30);
    Drain();
    box.ReceiveReport(0x03, 0x11);  // not the agreed value: nothing happens
    EXPECT_TRUE(box.UsbAttached());
    box.ReceiveReport(0x03, 0x24);
    EXPECT_FALSE(box.UsbAttached());
    EXPECT_TRUE(Send(0, 0x11).empty());  // off USB: nothing is heard or answered
    EXPECT_EQ(box.NextEventMs(), SimBox::kRestartOfflineMs);
    clock.Advance(SimBox::kRestartOfflineMs);
    box.Tick();
    EXPECT_TRUE(box.UsbAttached());
    EXPECT_EQ(Send(0, 0x11), (std::vector<Pair>{{0x11, 20}}));
    EXPECT_EQ(Send(0, 0x20), (std::vector<Pair>{{0x20, 0}}));
    EXPECT_EQ(Send(0, 0x00), (std::vector<Pair>{{0x00, 0x13}}));  // firmware identity kept
    EXPECT_EQ(Send(0, 0x1C), (std::vector<Pair>{{0x1C, 30}}));    // the pot did not move
}

TEST_F(SimBoxTest, UpdateModeCallsTheHandler) {
    Send(0x11, 35);
    box.ReceiveReport(0x08, 0x21);  // default: a restart, settings kept
    EXPECT_FALSE(box.UsbAttached());
    clock.Advance(SimBox::kRestartOfflineMs);
    EXPECT_EQ(Send(0, 0x11), (std::vector<Pair>{{0x11, 35}}));
    int calls = 0;
    box.SetUpdateModeHandler([&calls](SimBox&) { ++calls; });
    box.ReceiveReport(0x08, 0x21);
    EXPECT_EQ(calls, 1);
}

// A component sees host reports first and can take them over, with its own timing.
class EchoLater final : public ISimComponent {
  public:
    bool OnHostReport(uint8_t code, uint8_t value, SimBox& box) override {
        if (code != 0x13) {
            return false;
        }
        due_ = box.Now() + 10;
        value_ = value;
        return true;
    }
    bool OnPaddle(SimBox& box) override {
        box.Emit(0x1D, 'P');
        return true;
    }
    void Tick(SimBox& box) override {
        if (due_ >= 0 && box.Now() >= due_) {
            box.Emit(0x1D, value_);
            due_ = -1;
        }
    }
    int64_t NextEventMs() const override { return due_; }

  private:
    int64_t due_ = -1;
    uint8_t value_ = 0;
};

TEST_F(SimBoxTest, ComponentsTakeOverCodesAndInputs) {
    box.AddComponent(std::make_unique<EchoLater>());
    EXPECT_TRUE(Send(0x13, 'A').empty());
    EXPECT_EQ(box.NextEventMs(), 10);
    clock.Advance(10);
    box.Tick();
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x1D, 'A'}}));
    box.PressPaddle();
    EXPECT_EQ(Drain(), (std::vector<Pair>{{0x1D, 'P'}}));
    EXPECT_EQ(Send(0x11, 22), (std::vector<Pair>{{0x11, 22}}));  // others still reach the box
}

TEST_F(SimBoxTest, TranscriptLines) {
    std::ostringstream out;
    box.SetTranscript(&out);
    box.SetReplyDelayMs(3);
    clock.Set(1234);
    box.ReceiveReport(0x00, 0x30);
    clock.Advance(3);
    Drain();
    box.Note("key down");
    EXPECT_EQ(out.str(), "1234 host 0x00 0x30\n1237 box 0x30 0x00\n1237 key down\n");
}

}  // namespace
}  // namespace zuvo::sim
