#include <gtest/gtest.h>

#include "utility/utility_fixture.h"

namespace zuvo {
namespace {

using namespace utility;
using Sends = std::vector<std::pair<int, int>>;
using Lines = std::vector<std::string>;

class KeyerConsoleTest : public test::UtilityFixture {
  protected:
    void ConnectReady() {
        Connect();
        Report(0x10, 0x10);  // first Keyer Status: the box can take a character
    }
    void Type(const std::string& text) { dlg_.Model().SetText(kText, text); }
};

TEST_F(KeyerConsoleTest, TextWithSpeedChangesIsPacedByReadiness) {
    ConnectReady();
    Type("ab<<x>");
    dlg_.OnKey(UtilityDlg::Key::kEnter);
    EXPECT_EQ(dlg_.Model().Text(kSend), "Abort");
    EXPECT_EQ(Sent(), (Sends{{0x13, 'A'}}));
    dlg_.OnKey(UtilityDlg::Key::kEnter);  // already sending: nothing
    EXPECT_TRUE(Sent().empty());
    Report(0x1D, 'A');
    EXPECT_EQ(Sent(), (Sends{{0x13, 'B'}}));
    Report(0x13, 1);
    EXPECT_EQ(Sent(), (Sends{{0x18, 2}, {0x18, 4}, {0x13, 'X'}}));
    Report(0x1D, 'X');
    EXPECT_EQ(Sent(), (Sends{{0x18, 2}}));
    Report(0x1D, 'X');
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(dlg_.Model().Text(kSend), "Abort");
    Report(0x17, 2);  // Idle
    EXPECT_EQ(dlg_.Model().Text(kSend), "Send");
    EXPECT_FALSE(dlg_.Console().Sending());
}

TEST_F(KeyerConsoleTest, LeadingSlowerAndVerboseLines) {
    ConnectReady();
    Check(kVerbose, true);
    TakeLines();
    Type(">1 ");
    dlg_.OnControlChanged(kSend);
    EXPECT_EQ(Sent(), (Sends{{0x18, 0xFE}, {0x13, '1'}}));
    EXPECT_EQ(TakeLines(), (Lines{"* Sending delta 0xfe", "* Sending character 0x31('1')"}));
}

TEST_F(KeyerConsoleTest, WaitsForTheFirstStatus) {
    Connect();
    Type("e");
    dlg_.OnKey(UtilityDlg::Key::kEnter);
    EXPECT_TRUE(Sent().empty());
    Report(0x1D, 'Q');  // Sending Char before the first status does not count
    EXPECT_TRUE(Sent().empty());
    Report(0x10, 0x00);  // not ready
    EXPECT_TRUE(Sent().empty());
    Report(0x1D, 'Q');
    EXPECT_EQ(Sent(), (Sends{{0x13, 'E'}}));
}

TEST_F(KeyerConsoleTest, AbortEscapeAndEmptyText) {
    ConnectReady();
    dlg_.OnKey(UtilityDlg::Key::kEnter);
    dlg_.OnControlChanged(kSend);
    EXPECT_TRUE(Sent().empty());
    EXPECT_EQ(dlg_.Model().Text(kSend), "Send");

    Type("abc");
    dlg_.OnControlChanged(kSend);
    EXPECT_EQ(Sent(), (Sends{{0x13, 'A'}}));
    dlg_.OnControlChanged(kSend);  // Abort
    EXPECT_EQ(Sent(), (Sends{{0x15, 0}}));
    EXPECT_EQ(dlg_.Model().Text(kSend), "Abort");  // until the box reports the abort
    Report(0x1D, 'A');
    EXPECT_TRUE(Sent().empty());  // the text was emptied
    Report(0x15, 0);
    EXPECT_EQ(dlg_.Model().Text(kSend), "Send");

    dlg_.OnKey(UtilityDlg::Key::kEnter);
    EXPECT_EQ(Sent(), (Sends{{0x13, 'A'}}));
    dlg_.OnKey(UtilityDlg::Key::kEscape);
    EXPECT_EQ(Sent(), (Sends{{0x15, 0}}));
    dlg_.OnKey(UtilityDlg::Key::kEscape);  // still "sending" until the box answers
    EXPECT_EQ(Sent(), (Sends{{0x15, 0}}));
}

TEST_F(KeyerConsoleTest, TunePttAndEvents) {
    Connect();
    dlg_.OnControlChanged(kTune);
    Report(0x16, 0x02);
    EXPECT_EQ(dlg_.Model().Text(kTune), "Stop Tune");
    dlg_.OnControlChanged(kTune);
    Report(0x17, 4);  // paddle pressed ends tuning
    EXPECT_EQ(dlg_.Model().Text(kTune), "Tune");
    dlg_.OnControlChanged(kTune);
    Report(0x30, 0x03);
    dlg_.OnControlChanged(kPtt);
    EXPECT_EQ(Sent(), (Sends{{0x16, 2}, {0x16, 1}, {0x16, 2}, {0x30, 0x0B}}));
    TakeLines();
    Report(0x17, 7);
    Report(0x17, 1);
    EXPECT_EQ(TakeLines(), Lines{"Unknown event 0x07"});
}

TEST_F(KeyerConsoleTest, ButtonsRefusedWithoutABox) {
    dlg_.OnControlChanged(kSend);
    dlg_.OnControlChanged(kTune);
    dlg_.OnKey(UtilityDlg::Key::kEnter);
    dlg_.OnKey(UtilityDlg::Key::kEscape);
    EXPECT_EQ(TakeLines(), (Lines{"Connect to Zuvo Box first!", "Connect to Zuvo Box first!"}));
}

}  // namespace
}  // namespace zuvo
