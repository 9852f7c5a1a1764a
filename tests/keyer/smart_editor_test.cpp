#include <gtest/gtest.h>

#include "keyer/winkeyer_fixture.h"
#include "link/box_protocol.h"

namespace zuvo::test {
namespace {

using Lines = WinKeyerFixture::Lines;

class SmartEditorTest : public WinKeyerFixture {
  protected:
    // Queues text and lets the box start each character up to position `sendPos`.
    void SendUpTo(std::string_view text, int sendPos) {
        OpenHostWithEcho();
        HostText(text);
        for (int i = 0; i <= sendPos; ++i) {
            BoxStarts(text[static_cast<size_t>(i)]);
            BoxEvent(box::kEventEndOfCharacter);
        }
        Take();
        log.Clear();
    }
    // Keyer Char values sent so far.
    std::string Loaded() const {
        std::string out;
        for (auto [code, value] : box.sent) {
            if (code == box::kKeyerChar) {
                out += static_cast<char>(value);
            }
        }
        return out;
    }
};

TEST_F(SmartEditorTest, WithoutSmartEditingPointerCommandsOnlyMoveTheInsertionPointer) {
    SendUpTo("N0AB TEST", 5);
    Host({0x16, 0x01, 0x01});
    EXPECT_FALSE(Buf().editActive);
    HostText("N0CALL TEST");
    Host({0x16, 0x02, 11});
    EXPECT_EQ(Buf().insPtr, 11);
    EXPECT_EQ(Buf().sendPtr, 5);
    EXPECT_EQ(Buf().loadPtr, 6);
    // Only the typing over the loaded character reached the box.
    EXPECT_EQ(Take(), (Lines{"box 14 20"}));
}

TEST_F(SmartEditorTest, LongerCallBeforeTheSendPointerMovesThePointersOn) {
    options.smartEditing = true;
    SendUpTo("N0AB TEST", 5);  // the box sends the "T" of TEST and holds the "E"
    verbose.keyer = true;
    Host({0x16, 0x01, 0x01});
    EXPECT_EQ(log.lines, (Lines{"* KE buffer overwrite 'N0AB TEST'", "* KE insPtr 0x09",
                                "* KE start magic 'N0AB TEST'", "* KE command 0x16 0x01 0x01"}));
    verbose.keyer = false;
    HostText("N0CALL TEST");
    EXPECT_TRUE(Take().empty());  // nothing reaches the box while the edit is open
    verbose.keyer = true;
    log.Clear();
    Host({0x16, 0x02, 11});
    EXPECT_EQ(
        log.lines,
        (Lines{"* KE buffer append 'N0CALL TEST'", "* KE insPtr 0x0b",
               "* KE magic time: buf 'N0CALL TEST'", "* KE magic time: magicBuf 'N0AB TEST'",
               "* KE magic lengths 0x0b 0x09", "* KE magic same to 0x05 0x03",
               "* KE magic sending 0x05", "* KE magic sending 0x07",
               "* KE magic overwriting with 0x45('E')", "* KE magic altchar 0x20(' ')",
               "* KE magic load 0x08", "* KE magic alt load 0x06", "* KE command 0x16 0x02 0x0b"}));
    EXPECT_EQ(Take(), (Lines{"box 14 45"}));
    EXPECT_EQ(Buf().sendPtr, 7);
    EXPECT_EQ(Buf().loadPtr, 8);
    EXPECT_FALSE(Buf().editActive);

    // The box goes on with the rest of TEST from its new place.
    verbose.keyer = false;
    BoxStarts('E');
    BoxStarts('S');
    BoxStarts('T');
    EXPECT_EQ(Loaded(), "N0AB TEST");
    EXPECT_EQ(Buf().state, kSendDraining);
}

TEST_F(SmartEditorTest, EditThatKeepsTheLengthMovesNothing) {
    options.smartEditing = true;
    SendUpTo("N0AB TEST", 5);
    Host({0x16, 0x01, 0x01});
    HostText("N0XY");
    Host({0x16, 0x02, 9});
    EXPECT_EQ(Buf().sendPtr, 5);
    EXPECT_EQ(Buf().loadPtr, 6);
    EXPECT_FALSE(Buf().editActive);
    EXPECT_TRUE(Take().empty());
}

TEST_F(SmartEditorTest, EditAfterTheSendPointerMovesNothing) {
    options.smartEditing = true;
    SendUpTo("ABCDEFGH", 1);
    Host({0x16, 0x01, 0x01});
    HostText("ABCDEFGHIJ");  // only text after the send pointer changes
    Host({0x16, 0x02, 10});
    EXPECT_EQ(Buf().sendPtr, 1);
    EXPECT_EQ(Buf().loadPtr, 2);
    EXPECT_TRUE(Take().empty());
    BoxStarts('C');
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "box 13 44"}));
}

TEST_F(SmartEditorTest, EditStartNeedsTextWithoutNullsUpToTheSendPointer) {
    options.smartEditing = true;
    OpenHostWithEcho();
    HostText("A");
    Host({0x16, 0x03, 0x01});
    HostText("BCD");
    BoxStarts('A');
    BoxStarts('B');
    ASSERT_EQ(Buf().sendPtr, 2);
    Host({0x16, 0x01, 0x01});
    EXPECT_FALSE(Buf().editActive);
}

TEST_F(SmartEditorTest, TypingRightBehindTheSendingCharacterReplacesTheLoadedOne) {
    SendUpTo("ABCD", 1);  // sending "B", "C" loaded
    Host({0x16, 0x01, 0x03});
    verbose.keyer = true;
    HostText("x");
    EXPECT_EQ(Take(), (Lines{"box 14 3f"}));
    EXPECT_EQ(log.lines, (Lines{"* KE overwriting with 0x78('x')", "* KE edit altchar 0x43('C')",
                                "* KE edit load 0x02", "* KE edit alt load 0x02",
                                "* KE Adding character 0x3f('?')", "* KE insPtr 0x03",
                                "* KE state 0x02", "* KE command 0x78('x')"}));
    verbose.keyer = false;
    Host({0x16, 0x02, 0x04});
    BoxStarts('?');  // the overwrite came in time
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "box 13 44"}));
    EXPECT_FALSE(Buf().altValid);
}

TEST_F(SmartEditorTest, TooLateOverwriteIsRestoredByTheAlternateCheck) {
    OpenHostWithEcho();
    HostText("AB");
    Host({0x16, 0x03, 0x01});  // a null between "B" and "C"
    HostText("CD");
    BoxStarts('A');
    BoxStarts('B');
    ASSERT_EQ(Buf().sendPtr, 1);
    ASSERT_EQ(Buf().loadPtr, 3);  // "C", past the null
    Take();
    Host({0x16, 0x01, 0x03});  // over the null, right behind "B"
    HostText("X");
    EXPECT_EQ(Take(), (Lines{"box 14 58"}));
    EXPECT_EQ(Buf().loadPtr, 2);
    // The box had already started "C": its report puts the load pointer back, so "C" is not
    // sent twice and "D" comes next.
    BoxStarts('C');
    EXPECT_EQ(Buf().sendPtr, 3);
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "box 13 44"}));
}

TEST_F(SmartEditorTest, NullsOverTheLoadedCharacterMakeTheBoxDropIt) {
    SendUpTo("ABCD", 0);  // sending "A", "B" loaded
    Host({0x16, 0x01, 0x02});
    verbose.keyer = true;
    Host({0x16, 0x03, 0x02});
    EXPECT_EQ(Take(), (Lines{"box 14 00"}));
    EXPECT_TRUE(log.Contains("* KE overwriting with zero"));
    EXPECT_TRUE(log.Contains("* KE insPtr (after) 0x03"));
    EXPECT_TRUE(Buf().altValid);
    EXPECT_EQ(Buf().altChar, 'B');
    // The box asks for a character again: the one after the nulls.
    BoxEvent(box::kEventClear);
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "box 13 44"}));
}

TEST_F(SmartEditorTest, ShiftBelowTheBufferIsGivenUp) {
    options.smartEditing = true;
    SendUpTo("ABCDEFG", 5);
    Host({0x16, 0x01, 0x01});
    ASSERT_TRUE(Buf().editActive);
    Host({0x16, 0x03, 0x01});  // the text now ends at position 0
    Host({0x16, 0x02, 0x07});
    EXPECT_EQ(Buf().sendPtr, 5);
    EXPECT_EQ(Buf().loadPtr, 6);
    EXPECT_FALSE(Buf().editActive);
    EXPECT_FALSE(Buf().altValid);
    EXPECT_TRUE(Take().empty());
}

TEST_F(SmartEditorTest, ShiftPastTheBufferIsGivenUpAndTheWalkStaysInside) {
    options.smartEditing = true;
    SendUpTo("ABC", 2);
    Host({0x16, 0x01, 0x01});
    ASSERT_TRUE(Buf().editActive);
    HostText(std::string(128, 'X'));  // no null left anywhere
    const int send = Buf().sendPtr;
    const int load = Buf().loadPtr;
    Take();
    Host({0x16, 0x02, 0x80});
    EXPECT_EQ(Buf().sendPtr, send);
    EXPECT_EQ(Buf().loadPtr, load);
    EXPECT_FALSE(Buf().editActive);
    EXPECT_TRUE(Take().empty());
}

}  // namespace
}  // namespace zuvo::test
