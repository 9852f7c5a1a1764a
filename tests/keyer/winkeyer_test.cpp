#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "keyer/winkeyer_fixture.h"
#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo::test {
namespace {

using WinKeyerTest = WinKeyerFixture;
using Lines = WinKeyerFixture::Lines;

TEST_F(WinKeyerTest, TextWithoutHostOpenOpensTheHostBeforeTheFirstCharacter) {
    keyer.OnKeyerPortOpened();
    state.keyerSpeed = 25;
    HostText("E");
    EXPECT_EQ(Take(), (Lines{"box 16 08",  // pot flag set at port open: speed from the pot
                             "host c4", "latch+ 02", "box 13 45"}));
    EXPECT_TRUE(keyer.HostOpen());
    EXPECT_EQ(keyer.HostSpeed(), 25);

    // With the pot flag stored FALSE the implicit open hands the speed to the host.
    profile.values["Keyer/KEPot"] = "FALSE";
    keyer.OnKeyerPortOpened();
    HostText("E");
    EXPECT_EQ(Take().front(), "box 16 04");
}

TEST_F(WinKeyerTest, HostOpenAndCloseMoveTheSpeedBetweenHostAndPot) {
    keyer.OnKeyerPortOpened();
    Host({0x00, 0x02});  // admin: host open
    EXPECT_EQ(Take(), (Lines{"host 0a", "box 16 04"}));
    EXPECT_FALSE(keyer.PotFlag());
    EXPECT_EQ(profile.Get("Keyer/KEPot"), "FALSE");

    Host({0x00, 0x03});  // admin: host close
    EXPECT_EQ(Take(), (Lines{"box 16 08"}));
    EXPECT_TRUE(keyer.PotFlag());
    EXPECT_FALSE(keyer.HostOpen());
    EXPECT_EQ(profile.Get("Keyer/KEPot"), "TRUE");

    // A pot range from a controlling logger is handed back at close.
    options.loggerControls = true;
    Host({0x00, 0x02});
    Host({0x05, 0x05, 0x0A, 0x00});  // pot range: 5, 5 + 10
    Host({0x00, 0x03});
    EXPECT_EQ(Take(), (Lines{"host 0a", "box 16 04", "box 1e 05", "box 1f 0f", "box 16 08",
                             "box 1e 00", "box 00 1f"}));

    // No box: the host still gets its reply, the box gets nothing.
    box.connected = false;
    Host({0x00, 0x02});
    EXPECT_EQ(Take(), (Lines{"host 0a"}));
    EXPECT_EQ(box.refusals, 0);
}

TEST_F(WinKeyerTest, SetSpeed) {
    keyer.OnKeyerPortOpened();
    state.keyerSpeed = 20;
    Host({0x02, 0x01});                                    // speed 1 while the pot flag is set
    EXPECT_EQ(Take(), (Lines{"box 16 08", "box 16 04"}));  // implicit open, then to the host
    EXPECT_EQ(keyer.HostSpeed(), 20);
    EXPECT_FALSE(keyer.PotFlag());
    EXPECT_EQ(profile.Get("Keyer/KEPot"), "FALSE");

    Host({0x02, 0x00});  // speed 0: back to the pot, ask where it is
    EXPECT_EQ(Take(), (Lines{"box 16 08", "box 18 00", "box 00 1c"}));
    EXPECT_TRUE(keyer.PotFlag());
    EXPECT_EQ(profile.Get("Keyer/KEPot"), "TRUE");

    Host({0x02, 100});
    EXPECT_EQ(Take(), (Lines{"box 16 04"}));
    EXPECT_EQ(keyer.HostSpeed(), 20);

    Host({0x02, 0x00});
    Take();
    Host({0x02, 30});
    EXPECT_EQ(Take(), (Lines{"box 16 04", "box 11 1e", "box 18 00"}));
    EXPECT_EQ(keyer.HostSpeed(), 30);
    Host({0x02, 31});  // the pot flag is already clear
    EXPECT_EQ(Take(), (Lines{"box 11 1f", "box 18 00"}));
}

TEST_F(WinKeyerTest, WeightPttAndPotRangeReachTheBoxOnlyWhenTheLoggerControlsIt) {
    OpenHostWithEcho();
    Host({0x03, 50});
    Host({0x04, 26, 2});
    Host({0x05, 10, 20, 0});
    EXPECT_TRUE(Take().empty());

    options.loggerControls = true;
    Host({0x03, 50});
    Host({0x03, 10});
    Host({0x04, 26, 2});  // 260 ms is sent as 255
    Host({0x05, 10, 20, 0});
    EXPECT_EQ(Take(), (Lines{"box 1b 80", "box 18 00", "box 1b 19", "box 18 00", "box 19 ff",
                             "box 1a 14", "box 1e 0a", "box 1f 1e"}));
}

TEST_F(WinKeyerTest, PotBytes) {
    OpenHostWithEcho();
    Host({0x05, 5, 10, 0});  // pot range 5..15
    EXPECT_TRUE(keyer.OnBoxPotSpeed(5));
    EXPECT_TRUE(keyer.OnBoxPotSpeed(15));
    EXPECT_TRUE(keyer.OnBoxPotSpeed(16));  // outside the range: taken, not passed on
    EXPECT_TRUE(keyer.OnBoxPotSpeed(4));
    Host({0x07});  // pot speed request: the last in range
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0x80, 0x8A, 0x8A}));

    // With the host closed the report handler sets the speed unless the box follows its pot.
    Host({0x00, 0x03});
    state.keyerControl = 0x08;
    EXPECT_TRUE(keyer.OnBoxPotSpeed(12));
    state.keyerControl = 0x00;
    EXPECT_FALSE(keyer.OnBoxPotSpeed(12));
    port.written.clear();
    Host({0x00, 0x02});
    port.running = false;
    EXPECT_FALSE(keyer.OnBoxPotSpeed(12));
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0x0A}));
}

TEST_F(WinKeyerTest, PotByteNeverLeavesItsClass) {
    OpenHostWithEcho();
    Host({0x07});  // no pot report yet: the minimum, not 0 - 10
    // A logger's wide pot range: minimum 10, range 80; the pot at 80 is past 63 steps.
    Host({0x05, 0x0A, 0x50, 0x00});
    EXPECT_TRUE(keyer.OnBoxPotSpeed(80));
    Host({0x07});
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0x80, 0xBF, 0xBF}));
}

TEST_F(WinKeyerTest, StatusRequestCountsPositionsTuneAndBusy) {
    OpenHostWithEcho();
    HostText(std::string(85, 'E'));
    Take();
    port.written.clear();
    Host({0x15});
    HostText("E");
    Host({0x15});
    state.tune = true;
    Host({0x15});
    Host({0x0A});  // clear: idle, key up
    Host({0x15});
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0xC4, 0xC5, 0xCD, 0xC0, 0xC0}));
    EXPECT_EQ(keyer.LastStatus(), 0xC0);  // the request does not change it
}

TEST_F(WinKeyerTest, BackspaceAndPointerCommands) {
    OpenHostWithEcho();
    Host({0x08});  // backspace at 0
    EXPECT_EQ(Buf().insPtr, 0);
    port.running = false;  // keep the text in the buffer
    HostText("ABCDEFG");
    Host({0x08});
    EXPECT_EQ(Buf().insPtr, 6);
    EXPECT_EQ(Buf().end, 6);
    EXPECT_EQ(Buf().data[6], 0);

    Host({0x16, 0x01, 0x00});
    EXPECT_EQ(Buf().insPtr, 0);
    EXPECT_TRUE(Buf().overwriteMode);
    Host({0x16, 0x01, 0x05});
    EXPECT_EQ(Buf().insPtr, 4);
    Host({0x16, 0x02, 0x05});
    EXPECT_EQ(Buf().insPtr, 5);
    EXPECT_FALSE(Buf().overwriteMode);

    // Wild positions leave the pointer where it is.
    Host({0x16, 0x01, 127});
    Host({0x16, 0x02, 128});
    Host({0x16, 0x02, 0xFF});
    EXPECT_EQ(Buf().insPtr, 5);
    Host({0x16, 0x04, 0x01});
    EXPECT_TRUE(log.Contains("Bad KE command 0x16 0x04 0x01"));

    // Nulls never run past the buffer.
    Host({0x16, 0x02, 120});
    Host({0x16, 0x03, 0xFF});
    EXPECT_EQ(Buf().insPtr, 128);
    EXPECT_EQ(Buf().end, 128);

    Host({0x16, 0x00});  // buffer clear
    EXPECT_EQ(Buf().insPtr, 0);
    EXPECT_EQ(Buf().end, 0);
    EXPECT_EQ(Buf().data[0], 0);
}

TEST_F(WinKeyerTest, BackspaceTakesBackOnlyWhatTheBoxHasNotBeenHanded) {
    OpenHostWithEcho();
    HostText("5NN 5NN 0505");
    Host({0x08, 0x08, 0x08});
    BoxKeysEverything();
    EXPECT_EQ(Handed(), "5NN 5NN 0");

    // A character the box already holds stays: the backspace does nothing.
    box.sent.clear();
    HostText("AB");
    BoxStarts('A');  // 'B' is handed now
    Host({0x08});
    EXPECT_EQ(Buf().insPtr, 2);
    BoxKeysEverything();
    EXPECT_EQ(Handed(), "AB");
}

TEST_F(WinKeyerTest, SendingCycleWithLateEcho) {
    OpenHostWithEcho();
    HostText("AB");
    EXPECT_EQ(Take(), (Lines{"host c4", "latch+ 02", "box 13 41"}));
    BoxStarts('A');
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "box 13 42"}));  // one character ahead
    BoxEvent(box::kEventEndOfCharacter);
    BoxStarts('B');
    BoxEvent(box::kEventEndOfCharacter);
    EXPECT_EQ(Take(), (Lines{"host 41", "host 42"}));
    EXPECT_EQ(Buf().state, kSendDraining);
    BoxEvent(box::kEventIdle);
    EXPECT_EQ(Take(), (Lines{"latch- 02", "host c0"}));
    EXPECT_EQ(Buf().state, kSendIdle);
    EXPECT_EQ(Buf().insPtr, 0);
    BoxEvent(box::kEventIdle);  // the same status is not sent twice
    EXPECT_TRUE(Take().empty());
}

TEST_F(WinKeyerTest, EarlyEchoAfterBufferClearWhileIdle) {
    OpenHostWithEcho();
    verbose.keyer = true;
    Host({0x16, 0x00});
    EXPECT_TRUE(log.Contains("* KE Early echo condition seen"));
    EXPECT_FALSE(keyer.LateEcho());
    HostText("AB");
    Take();
    BoxStarts('A');
    EXPECT_EQ(Take(), (Lines{"host 41", "latch+ 02", "box 13 42"}));
    BoxEvent(box::kEventEndOfCharacter);
    EXPECT_TRUE(Take().empty());

    // An implicit open brings the late echo back; a buffer clear while sending is not the
    // early echo condition.
    Host({0x00, 0x03});
    HostText("A");
    EXPECT_TRUE(keyer.LateEcho());
    EXPECT_EQ(Buf().state, kSendSending);
    Host({0x16, 0x00});
    EXPECT_TRUE(keyer.LateEcho());
}

TEST_F(WinKeyerTest, TranslationAndTheHashIsNeverEchoed) {
    OpenHostWithEcho();
    port.running = false;
    HostText("a|:>;\x7F");
    keyer.OnKeyerByte(0, -128);  // 0x80, sign-extended by the port thread
    const std::string stored(Buf().data.begin(), Buf().data.begin() + 7);
    EXPECT_EQ(stored, "?#([*?\x80");

    port.running = true;
    Host({0x0A});
    Host({0x16, 0x00});
    HostText("|E");
    Take();
    BoxStarts('#');
    BoxStarts('E');
    EXPECT_EQ(port.written.back(), 'E');
    EXPECT_EQ(std::count(port.written.begin(), port.written.end(), '#'), 0);
}

TEST_F(WinKeyerTest, OverflowReportsBreakInThenIdleAndStopsSending) {
    OpenHostWithEcho();
    HostText(std::string(128, 'E'));
    EXPECT_EQ(Buf().insPtr, 128);
    Take();
    HostText("X");
    EXPECT_EQ(Take(), (Lines{"host c2", "latch- 03", "host c0"}));
    EXPECT_TRUE(log.Contains("Keyer buffer overflow"));
    EXPECT_EQ(Buf().state, kSendIdle);
    EXPECT_EQ(Buf().insPtr, 0);
    EXPECT_EQ(Buf().end, 0);
    EXPECT_TRUE(Buf().editActive);
}

TEST_F(WinKeyerTest, PaddleBreakIn) {
    OpenHostWithEcho();
    HostText("AB");
    BoxStarts('A');
    Take();
    BoxEvent(box::kEventPaddlePressed);
    EXPECT_EQ(Take(), (Lines{"latch- 03", "host c6", "host c2"}));
    EXPECT_EQ(Buf().state, kSendIdle);
    EXPECT_EQ(Buf().insPtr, 0);
    BoxEvent(box::kEventIdle);
    BoxEvent(box::kEventIdle);
    EXPECT_EQ(Take(), (Lines{"host c0"}));

    // An abort with bit 2 breaks in and goes idle at once.
    HostText("AB");
    Take();
    keyer.OnBoxKeyerAbort(0x04);
    EXPECT_EQ(Take(), (Lines{"latch- 03", "host c6", "host c2", "latch- 03", "host c0"}));
    keyer.OnBoxKeyerAbort(0x00);
    EXPECT_TRUE(Take().empty());
}

TEST_F(WinKeyerTest, ClearAbortsTheBoxAndTuneIsReported) {
    OpenHostWithEcho();
    HostText("AB");
    state.tune = true;
    Take();
    Host({0x0A});
    EXPECT_EQ(Take(), (Lines{"latch- 02", "host c0", "box 15 00"}));
    EXPECT_FALSE(state.tune);

    Host({0x0B, 0x01});
    Host({0x0B, 0x00});
    EXPECT_EQ(Take(), (Lines{"box 16 02", "box 16 01"}));
    state.tune = true;
    keyer.OnBoxKeyerControl();
    state.tune = false;
    keyer.OnBoxKeyerControl();
    keyer.OnBoxKeyerControl();
    EXPECT_EQ(Take(), (Lines{"host c8", "host c0"}));
}

// SO2R loggers move on when they read idle: it must not come while text is still sent.
TEST_F(WinKeyerTest, NoIdleStatusWhileTextIsStillSent) {
    keyer.OnKeyerPortOpened();
    HostText("PARIS");  // no host open: the implicit one sends Keyer Control 8
    state.keyerControl = box::kControlBitPot;
    keyer.OnBoxKeyerControl();  // the box's answer
    state.tune = true;
    keyer.OnBoxKeyerControl();
    state.tune = false;
    keyer.OnBoxKeyerControl();
    BoxKeysEverything();
    keyer.OnBoxKeyerControl();
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0xC4, 0xCC, 0xC4, 0xC0}));

    // Text typed after a paddle break-in is busy until it is keyed, whenever the paddle ends.
    port.written.clear();
    box.sent.clear();
    BoxEvent(box::kEventPaddlePressed);
    HostText("CQ");
    BoxEvent(box::kEventIdle);  // the operator has let go of the paddle
    BoxKeysEverything();
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0xC6, 0xC2, 0xC4, 0xC0}));
}

TEST_F(WinKeyerTest, ClearResetBreakInAndOverflowDropTheHeldEcho) {
    // Clear while the box keys "PARIS": the held echo of 'P' belongs to nobody now.
    OpenHostWithEcho();
    HostText("PARIS");
    BoxStarts('P');
    Host({0x0A});
    Host({0x16, 0x00});  // early echo from here on
    box.sent.clear();
    port.written.clear();
    HostText("AB");
    BoxKeysEverything();
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0xC4, 'A', 'B', 0xC0}));

    const std::vector<std::vector<int>> resets = {
        {0x00, 0x01},  // admin reset
        {'X'},         // overflow of the full buffer
    };
    for (const auto& reset : resets) {
        OpenHostWithEcho();
        HostText(std::string(128, 'P'));
        BoxStarts('P');
        ASSERT_EQ(keyer.HeldEcho(), 'P');
        for (int b : reset) {
            Host({b});
        }
        EXPECT_EQ(keyer.HeldEcho(), 0) << reset.front();
    }
    OpenHostWithEcho();
    HostText("PARIS");
    BoxStarts('P');
    BoxEvent(box::kEventPaddlePressed);
    EXPECT_EQ(keyer.HeldEcho(), 0);
}

TEST_F(WinKeyerTest, KeyerPttTakesEffectAtOnce) {
    OpenHostWithEcho();
    Host({0x18, 0x01});
    Host({0x18, 0x00});
    EXPECT_EQ(Take(), (Lines{"ptt 01", "update ptt", "ptt 00", "update ptt"}));
}

TEST_F(WinKeyerTest, BufferedSpeedChangeGoesWithTheNextCharacter) {
    OpenHostWithEcho();
    Host({0x02, 20});
    Take();
    port.running = false;  // fill first, then send
    Host({0x1C, 25});
    HostText("A");
    Host({0x1E});
    Host({0x1F});
    HostText("B");
    port.running = true;
    Host({0x16, 0x02, 0x06});  // append after "B" (ins 6)
    HostText("C");
    EXPECT_EQ(Take(), (Lines{"host c4", "box 18 05", "latch+ 02", "box 13 41"}));
    BoxStarts('A');
    EXPECT_EQ(Take(), (Lines{"box 18 00", "latch+ 02", "box 13 42"}));
    EXPECT_EQ(Buf().end, 7);  // the no-op does not raise the end
}

TEST_F(WinKeyerTest, LoadDefaultsInOrder) {
    keyer.OnKeyerPortOpened();
    options.loggerControls = true;
    state.keyerConfig = 0xC0;
    state.keyerConfig2 = 0x02;
    verbose.keyer = true;
    Host({0x0F,
          0x3A,  // mode: paddle bits 0x20 | 0x10, reverse 0x08, contest spacing 0x02
          30,    // speed
          0,     // sidetone (ignored)
          50,    // weight
          3,     // lead, 10 ms units
          30,    // tail, 10 ms units: more than 255 ms
          12,    // pot minimum
          20,    // pot range
          0, 0, 0, 0, 0,
          0x80,  // pin configuration, shifted right by 6
          0});
    EXPECT_EQ(Take(), (Lines{"box 16 08", "box 12 f9", "box 54 03", "box 11 1e", "box 18 00",
                             "box 1b 80", "box 18 00", "box 19 1e", "box 1a ff", "box 1e 0c",
                             "box 1f 20", "box 12 fa", "box 54 03"}));
    EXPECT_EQ(profile.Get("Keyer/KEMode"), "58");
    EXPECT_EQ(profile.Get("Keyer/KEPins"), "2");
    EXPECT_TRUE(log.Contains("* KE command 0x0f 0x3a 0x1e"));
    EXPECT_TRUE(keyer.PotFlag());

    keyer.ResendKeyerSettings();
    EXPECT_EQ(Take(), (Lines{"box 16 08", "box 1e 0c", "box 1f 20", "box 11 1e", "box 1b 80",
                             "box 19 1e", "box 1a ff"}));
    options.loggerControls = false;
    keyer.ResendKeyerSettings();
    EXPECT_EQ(Take(), (Lines{"box 16 08", "box 1e 0c", "box 1f 20", "box 11 1e"}));
}

TEST_F(WinKeyerTest, ApplyKeyerConfigReadsTheStoredModeOnlyUntilOneIsHeld) {
    options.loggerControls = true;
    keyer.ApplyKeyerConfig();  // nothing stored, nothing held: nothing to send
    profile.values["Keyer/KEMode"] = "65535";
    keyer.ApplyKeyerConfig();
    EXPECT_TRUE(Take().empty());

    profile.values["Keyer/KEMode"] = "5";  // echo, iambic B off
    keyer.ApplyKeyerConfig();
    EXPECT_TRUE(keyer.EchoEnabled());
    EXPECT_EQ(Take(), (Lines{"box 12 00", "box 54 00"}));
    profile.values["Keyer/KEMode"] = "0";
    keyer.ApplyKeyerConfig();  // held now: the stored value is not read again
    EXPECT_TRUE(keyer.EchoEnabled());
    Take();

    box.connected = false;
    keyer.ApplyKeyerConfig();
    EXPECT_TRUE(Take().empty());
}

TEST_F(WinKeyerTest, AdminCommands) {
    keyer.OnKeyerPortOpened();
    Host({0x00, 0x04, 0x55});  // echo test
    Host({0x00, 0x05});
    Host({0x00, 0x07});
    Host({0x00, 0x00, 0x00});
    Host({0x00, 0x0A});  // out of range
    Host({0x00, 0xFF});
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0x55, 0x00}));
    EXPECT_EQ(log.lines, (Lines{"Bad KE command 0x00 0x0a", "Bad KE command 0x00 0xff"}));
    EXPECT_FALSE(keyer.HostOpen());

    // Admin reset forgets the session but no held value.
    Host({0x00, 0x02});
    Host({0x05, 20, 10, 0});
    port.running = false;
    HostText("AB");
    Take();
    Host({0x00, 0x01});
    EXPECT_EQ(Take(), (Lines{"latch- 02"}));
    EXPECT_FALSE(keyer.HostOpen());
    EXPECT_EQ(keyer.PotMin(), 10);
    EXPECT_EQ(keyer.PotMax(), 73);
    EXPECT_EQ(Buf().insPtr, 0);
}

TEST_F(WinKeyerTest, VerboseCommandAndTextLines) {
    keyer.OnKeyerPortOpened();
    port.running = false;
    verbose.keyer = true;
    Host({0x00, 0x02});
    HostText("A");
    Host({0x15});
    EXPECT_EQ(log.lines, (Lines{"* KE command 0x00 0x02", "* KE Adding character 0x41('A')",
                                "* KE insPtr 0x01", "* KE state 0x00", "* KE command 0x41('A')",
                                "* KE command 0x15"}));
}

TEST_F(WinKeyerTest, ReadErrorsAndClosedPipe) {
    keyer.OnKeyerByte(platform::kErrorBrokenPipe, 0xFFFF);  // the logger went away
    keyer.OnKeyerByte(0, 0xFFFF);
    EXPECT_TRUE(log.lines.empty());
    keyer.OnKeyerByte(platform::kErrorAccessDenied, 0xFFFF);
    ASSERT_EQ(log.lines.size(), 2u);
    EXPECT_EQ(log.lines[0], "KE Read Thread: ");
    EXPECT_EQ(keyer.AccumulatedBytes(), 0);
}

TEST_F(WinKeyerTest, NextLoggerDoesNotInheritTheHalfCommandOfOneThatLeft) {
    keyer.OnKeyerPortOpened();
    Host({0x00, 0x02});
    Host({0x02});                                           // set speed, without its value
    keyer.OnKeyerByte(platform::kErrorBrokenPipe, 0xFFFF);  // the logger is gone
    Take();
    Host({0x00, 0x02, 0x15});  // the next one: host open, status
    EXPECT_EQ(port.written, (std::vector<uint8_t>{0x0A, 0x0A, 0xC0}));
    EXPECT_EQ(Take(), (Lines{"host 0a", "box 16 04", "host c0"}));
}

TEST_F(WinKeyerTest, TruncatedCommandWaitsForItsBytes) {
    OpenHostWithEcho();
    Host({0x04, 0x01});
    EXPECT_EQ(keyer.AccumulatedBytes(), 2);
    Host({0x02});
    EXPECT_EQ(keyer.AccumulatedBytes(), 0);
    Host({0x0F, 1, 2, 3});
    EXPECT_EQ(keyer.AccumulatedBytes(), 4);
}

TEST_F(WinKeyerTest, BoxGoneWhileSendingKeepsTheHostServed) {
    OpenHostWithEcho();
    HostText("ABC");
    BoxStarts('A');
    Take();
    box.connected = false;
    BoxStarts('B');
    BoxEvent(box::kEventEndOfCharacter);
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "host 42"}));  // Keyer Char refused
    EXPECT_EQ(box.refusals, 1);
    Host({0x0A});
    Host({0x15});
    EXPECT_EQ(Take(), (Lines{"latch- 02", "host c0", "host c0"}));
}

TEST_F(WinKeyerTest, LoggerClosingMidTextStopsTheRepliesNotTheBox) {
    OpenHostWithEcho();
    HostText("ABC");
    BoxStarts('A');
    Take();
    port.running = false;
    keyer.OnKeyerByte(platform::kErrorBrokenPipe, 0xFFFF);
    BoxStarts('B');  // the box goes on with what it was given
    BoxEvent(box::kEventEndOfCharacter);
    BoxEvent(box::kEventIdle);
    EXPECT_EQ(Take(), (Lines{"latch+ 02", "box 13 43"}));
    // A new logger starts from an empty session.
    port.running = true;
    keyer.OnKeyerPortOpened();
    EXPECT_FALSE(keyer.HostOpen());
    EXPECT_EQ(Buf().state, kSendIdle);
    EXPECT_EQ(keyer.HeldEcho(), 0);
}

TEST_F(WinKeyerTest, FullBufferKeepsEveryPointerInside) {
    OpenHostWithEcho();
    HostText(std::string(128, 'E'));
    for (int i = 0; i < 130; ++i) {
        BoxStarts('E');
        ASSERT_LE(Buf().loadPtr, 128);
        ASSERT_LE(Buf().sendPtr, 128);
    }
    EXPECT_EQ(Buf().loadPtr, 128);
    EXPECT_EQ(Buf().state, kSendDraining);
    BoxEvent(box::kEventIdle);
    EXPECT_EQ(Buf().state, kSendIdle);

    // A buffered speed change in the last two positions.
    Host({0x16, 0x02, 126});
    Host({0x1C, 0x1C});
    EXPECT_EQ(Buf().end, 128);
    EXPECT_LE(Buf().loadPtr, 128);
}

// The box keys "T"s; the host clears, resets or overflows the buffer and sends "CQ". The
// report of a "T" already on its way, before or after the new text, must not move the new
// buffer: the box is handed "C" and "Q" and the host gets their echoes.
TEST_F(WinKeyerTest, ReportOfACharacterFromBeforeAClearDoesNotMoveTheNextText) {
    const std::vector<std::vector<int>> resets = {{0x0A}, {0x00, 0x01}, {'T'}};
    for (const auto& reset : resets) {
        for (bool reportFirst : {true, false}) {
            SCOPED_TRACE(testing::Message() << "reset " << reset.front() << ", stale report "
                                            << (reportFirst ? "before" : "after") << " the text");
            OpenHostWithEcho();
            HostText(std::string(128, 'T'));
            BoxStarts('T');  // keying one, holding the next
            for (int b : reset) {
                Host({b});
            }
            Host({0x0E, 0x04});  // echo again after an admin reset
            box.sent.clear();
            port.written.clear();
            if (reportFirst) {
                BoxStarts('T');
            }
            HostText("CQ");
            if (!reportFirst) {
                BoxStarts('T');
            }
            BoxKeysEverything();
            EXPECT_EQ(Handed(), "CQ");
            std::string echoes;
            for (uint8_t b : port.written) {
                echoes += b < 0xC0 ? static_cast<char>(b) : '.';
            }
            EXPECT_EQ(echoes.substr(echoes.find_first_not_of('.')), "CQ.");
        }
    }
}

TEST_F(WinKeyerTest, ArbitraryStreamsKeepPointersAndStateInRange) {
    std::mt19937 rng(1234);
    options.smartEditing = true;
    keyer.OnKeyerPortOpened();
    for (int round = 0; round < 20000; ++round) {
        const unsigned pick = rng() % 16;
        if (pick < 10) {
            keyer.OnKeyerByte(0, static_cast<int8_t>(rng() & 0xFF));
        } else if (pick < 12) {
            keyer.OnBoxSendingChar(static_cast<uint8_t>(rng() & 0xFF));
        } else if (pick < 14) {
            keyer.OnBoxKeyerEvent(static_cast<uint8_t>(rng() % 6));
        } else if (pick == 14) {
            keyer.OnBoxKeyerAbort(static_cast<uint8_t>(rng() & 0x07));
        } else {
            // Pointer commands with wild positions, often.
            Host({0x16, static_cast<int>(rng() % 5), static_cast<int>(rng() & 0xFF)});
        }
        const SendBuffer& b = Buf();
        ASSERT_TRUE(b.insPtr >= 0 && b.insPtr <= 128) << round;
        ASSERT_TRUE(b.end >= 0 && b.end <= 128) << round;
        ASSERT_TRUE(b.loadPtr >= 0 && b.loadPtr <= 128) << round;
        ASSERT_TRUE(b.sendPtr >= 0 && b.sendPtr <= 128) << round;
        ASSERT_LE(b.state, 3) << round;
        ASSERT_LT(keyer.AccumulatedBytes(), 64) << round;
    }
}

}  // namespace
}  // namespace zuvo::test
