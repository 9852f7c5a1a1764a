#include "platform/ini_document.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/memory_profile.h"

namespace zuvo::platform {
namespace {

TEST(IniDocument, LooksUpSectionsAndKeysInAnyLetterCase) {
    const IniDocument doc(
        "; settings\n"
        "[Keyer]\n"
        "Verbose=TRUE\n"
        "  kemode = 12  \n"
        "[ ZUVO ]\n"
        "Verbose=FALSE\n");
    EXPECT_EQ(doc.Get("keyer", "VERBOSE"), "TRUE");
    EXPECT_EQ(doc.Get("Keyer", "KEMode"), "12");
    EXPECT_EQ(doc.Get("zuvo", "verbose"), "FALSE");
    EXPECT_EQ(doc.Get(" Zuvo ", " Verbose "), "FALSE");
    EXPECT_EQ(doc.Get("Box", "Verbose"), std::nullopt);
    EXPECT_EQ(doc.Get("Zuvo", "KEMode"), std::nullopt);  // a key of another section
}

TEST(IniDocument, ValuesLoseBlanksAndOnePairOfQuotes) {
    const IniDocument doc(
        "[S]\n"
        "a=\t \"quoted text\" \t\n"
        "b=\"\"twice\"\"\n"
        "c=\"\n"
        "d=\"open\n"
        "e=\n"
        "f=x=y\n");
    EXPECT_EQ(doc.Get("S", "a"), "quoted text");
    EXPECT_EQ(doc.Get("S", "b"), "\"twice\"");
    EXPECT_EQ(doc.Get("S", "c"), "\"");
    EXPECT_EQ(doc.Get("S", "d"), "\"open");
    EXPECT_EQ(doc.Get("S", "e"), "");  // present and empty is not missing
    EXPECT_EQ(doc.Get("S", "f"), "x=y");
}

TEST(IniDocument, FirstSectionAndFirstKeyWin) {
    IniDocument doc(
        "[S]\n"
        "k=1\n"
        "K=2\n"
        "[s]\n"
        "k=3\n"
        "only=4\n");
    EXPECT_EQ(doc.Get("S", "k"), "1");
    EXPECT_EQ(doc.Get("S", "only"), std::nullopt);  // the duplicate section is never searched
    ASSERT_TRUE(doc.Set("s", "K", "9"));
    EXPECT_EQ(doc.Serialize(), "[S]\nk=9\nK=2\n[s]\nk=3\nonly=4\n");
}

TEST(IniDocument, CommentsAndUnknownLinesSurviveAWriteByteForByte) {
    const std::string text =
        "junk before any section\r\n"
        "[Box]\r\n"
        "; LogToFile=TRUE\r\n"
        "  Verbose = FALSE   ; trailing words\r\n"
        "not a key line\r\n"
        "\r\n"
        "[broken\r\n"
        "\t\r\n"
        "[Keyer]\r\n"
        "Port=3";
    IniDocument doc(text);
    EXPECT_EQ(doc.Serialize(), text);
    EXPECT_EQ(doc.Get("Box", "; LogToFile"), std::nullopt);
    ASSERT_TRUE(doc.Set("Box", "verbose", "TRUE"));
    EXPECT_EQ(doc.Serialize(),
              "junk before any section\r\n"
              "[Box]\r\n"
              "; LogToFile=TRUE\r\n"
              "  Verbose = TRUE\r\n"
              "not a key line\r\n"
              "\r\n"
              "[broken\r\n"
              "\t\r\n"
              "[Keyer]\r\n"
              "Port=3");
}

TEST(IniDocument, NewKeyGoesAfterTheLastNonBlankLineOfItsSection) {
    IniDocument doc(
        "[Box]\n"
        "Verbose=TRUE\n"
        "; end of box\n"
        "\n"
        "\n"
        "[Keyer]\n"
        "Port=1\n");
    ASSERT_TRUE(doc.Set("BOX", "LogToFile", "FALSE"));
    ASSERT_TRUE(doc.Set("Keyer", "UsePort", "TRUE"));
    EXPECT_EQ(doc.Serialize(),
              "[Box]\n"
              "Verbose=TRUE\n"
              "; end of box\n"
              "LogToFile=FALSE\n"
              "\n"
              "\n"
              "[Keyer]\n"
              "Port=1\n"
              "UsePort=TRUE\n");
}

TEST(IniDocument, NewSectionIsAppendedAfterABlankLineInTheFilesLineEnding) {
    IniDocument crlf("[Box]\r\nVerbose=TRUE");  // no newline at the end
    ASSERT_TRUE(crlf.Set("RTTY", "Verbose", "FALSE"));
    EXPECT_EQ(crlf.Serialize(), "[Box]\r\nVerbose=TRUE\r\n\r\n[RTTY]\r\nVerbose=FALSE\r\n");

    IniDocument endsBlank("[Box]\nVerbose=TRUE\n\n");
    ASSERT_TRUE(endsBlank.Set("Zuvo", "Auto", "TRUE"));
    EXPECT_EQ(endsBlank.Serialize(), "[Box]\nVerbose=TRUE\n\n[Zuvo]\nAuto=TRUE\n");

    IniDocument empty("");
    ASSERT_TRUE(empty.Set("Keyer", "Port", "-1"));
    EXPECT_EQ(empty.Serialize(), "[Keyer]\nPort=-1\n");
    EXPECT_EQ(empty.Get("keyer", "port"), "-1");

    IniDocument headerOnly("[Keyer]");
    ASSERT_TRUE(headerOnly.Set("Keyer", "Port", "2"));
    EXPECT_EQ(headerOnly.Serialize(), "[Keyer]\nPort=2\n");
}

TEST(IniDocument, WritesThatWouldAddLinesOrChangeTheirKindAreRefusedOrCut) {
    IniDocument doc("[S]\nk=1\n");
    EXPECT_FALSE(doc.Set("S", "", "x"));
    EXPECT_FALSE(doc.Set("S", "a=b", "x"));
    EXPECT_FALSE(doc.Set("S", ";c", "x"));
    EXPECT_FALSE(doc.Set("S", "[T]", "x"));
    EXPECT_FALSE(doc.Set("S", "a\nb", "x"));
    EXPECT_FALSE(doc.Set("S\n[T]", "a", "x"));
    EXPECT_EQ(doc.Serialize(), "[S]\nk=1\n");

    ASSERT_TRUE(doc.Set("S", "k", "2\r\n[Evil]\r\nx=1"));
    EXPECT_EQ(doc.Serialize(), "[S]\nk=2\n");
}

TEST(IniDocument, AnyBytesRoundTrip) {
    const char raw[] = "[S]\nk=a\0b\n\xff\xfe=\x80\n[\0]\nz=1";
    const std::string text(raw, sizeof raw - 1);
    IniDocument doc(text);
    EXPECT_EQ(doc.Serialize(), text);
    EXPECT_EQ(doc.Get("S", "k"), std::string("a\0b", 3));
    EXPECT_EQ(doc.Get("S", "\xff\xfe"), "\x80");
    EXPECT_EQ(doc.Get(std::string("\0", 1), "Z"), "1");
}

TEST(IniDocument, ByteOrderMarkDoesNotHideTheFirstSectionAndIsWrittenBack) {
    IniDocument doc("\xEF\xBB\xBF[Box]\r\nLogToFile=TRUE\r\n");
    EXPECT_EQ(doc.Get("Box", "LogToFile"), "TRUE");
    ASSERT_TRUE(doc.Set("Box", "Verbose", "TRUE"));
    EXPECT_EQ(doc.Serialize(), "\xEF\xBB\xBF[Box]\r\nLogToFile=TRUE\r\nVerbose=TRUE\r\n");
}

TEST(ProfileGetString, CutsToTheBufferAndTrimsTheDefault) {
    char buf[10];
    const std::optional<std::string> file = std::string("[Keyer]\nPort=123456789012\n");
    // A 12-character value is seen through a 10-byte buffer as its first 9 characters.
    EXPECT_EQ(ProfileGetString(file, "Keyer", "Port", "*", buf, sizeof buf), 9u);
    EXPECT_STREQ(buf, "123456789");

    EXPECT_EQ(ProfileGetString(file, "Keyer", "Missing", "FALSE  \t", buf, sizeof buf), 5u);
    EXPECT_STREQ(buf, "FALSE");
    EXPECT_EQ(ProfileGetString(std::nullopt, "Keyer", "Port", " *", buf, sizeof buf), 2u);
    EXPECT_STREQ(buf, " *");  // only trailing blanks of the default go
    EXPECT_EQ(ProfileGetString(file, "Keyer", "Port", "*", buf, 1), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(ProfileGetString(file, "Keyer", "Port", "*", nullptr, 0), 0u);
}

TEST(MemoryProfile, KeepsTextsAndReportsUnwritablePaths) {
    fake::MemoryProfile profile;
    profile.SetText("a.ini", "[Box]\n; keep me\nVerbose=FALSE\n");
    EXPECT_TRUE(profile.WriteString("box", "VERBOSE", "TRUE", "a.ini"));
    EXPECT_EQ(profile.Text("a.ini"), "[Box]\n; keep me\nVerbose=TRUE\n");

    char buf[10];
    EXPECT_EQ(profile.GetString("Box", "Verbose", "FALSE", buf, sizeof buf, "a.ini"), 4u);
    EXPECT_STREQ(buf, "TRUE");
    EXPECT_EQ(profile.GetString("Box", "Verbose", "FALSE", buf, sizeof buf, "b.ini"), 5u);

    profile.SetUnwritable("b.ini");
    SetLastError(0);
    EXPECT_FALSE(profile.WriteString("Box", "Verbose", "TRUE", "b.ini"));
    EXPECT_EQ(GetLastError(), kErrorAccessDenied);
    EXPECT_EQ(profile.Text("b.ini"), std::nullopt);
    EXPECT_EQ(profile.Reads(), 2);
    EXPECT_EQ(profile.Writes(), 2);
}

}  // namespace
}  // namespace zuvo::platform
