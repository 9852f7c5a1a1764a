#include "ui/event_log.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "core/settings_store.h"
#include "platform/errors.h"
#include "platform/temp_dir.h"

namespace zuvo {
namespace {

TEST(EventLog, ByteLinesShowPrintableCharactersUpToLowerZ) {
    EventLog log;
    log.LogByte("* KE", 0x41);
    log.LogByte("* KE", 0x7B);
    log.LogByte("* KE", 0x20);
    log.LogByte("* KE", 0x7A);
    log.LogBytes2("* KE magic lengths", 0x05, 0xAB);
    log.LogBytes3("Bad KE command", 0x00, 0x0A, 0xFF);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{
                               "* KE 0x41('A')", "* KE 0x7b", "* KE 0x20(' ')", "* KE 0x7a('z')",
                               "* KE magic lengths 0x05 0xab", "Bad KE command 0x00 0x0a 0xff"}));
}

TEST(EventLog, QuotedLinesDropTrailingCarriageReturnsAndTooShortTexts) {
    EventLog log;
    log.LogQuoted("* SE response", "RX1S\r");
    log.LogQuoted("* SE response", "A\r");
    log.LogQuoted("* SE response", "");
    log.LogQuoted("* SE response", "AB");
    log.LogQuoted("* SE response", std::string("AB\rC\r\r", 6));
    log.LogQuoted("* KE buffer", std::string(100, 'x'));     // cut at 64 characters
    log.LogQuoted("* KE buffer", std::string("AB\0CD", 5));  // up to the first NUL
    ASSERT_EQ(log.Lines().size(), 5u);
    EXPECT_EQ(log.Lines()[0], "* SE response 'RX1S'");
    EXPECT_EQ(log.Lines()[1], "* SE response 'AB'");
    EXPECT_EQ(log.Lines()[2], "* SE response 'AB\rC'");
    EXPECT_EQ(log.Lines()[3], "* KE buffer '" + std::string(64, 'x') + "'");
    EXPECT_EQ(log.Lines()[4], "* KE buffer 'AB'");
}

TEST(EventLog, LastErrorWritesTwoLinesOrOneForTheUtility) {
    EventLog log;
    platform::SetLastError(0);
    log.LogLastError("WriteFile: ");
    EXPECT_TRUE(log.Lines().empty());
    platform::SetLastError(platform::kErrorAccessDenied);
    log.LogLastError("WriteFile: ");
    const std::string text = platform::SystemErrorText(platform::kErrorAccessDenied);
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"WriteFile: ", " " + text}));

    EventLog utility(EventLog::ErrorStyle::kOneLine);
    utility.LogLastError("WriteFile: ");
    EXPECT_EQ(utility.Lines(), std::vector<std::string>{"WriteFile: " + text});
    platform::SetLastError(0);
}

TEST(EventLog, FileHoldsEveryLineInOrderAndIsEmptiedAtTheNextStart) {
    // A folder of this run: other runs of the suite may share the temporary folder.
    const auto dir = std::filesystem::temp_directory_path() /
                     ("zuvo-event-log-test-" + std::to_string(std::random_device{}()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "ZuvoBox.txt").string();
    {
        EventLog log;
        log.OpenLogFile(true, path);
        log.LogMessage("first");
        platform::SetLastError(platform::kErrorAccessDenied);
        log.LogLastError("Read Thread: ");
        platform::SetLastError(0);
        std::ifstream in(path);  // flushed as written: readable while running
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), "first\nRead Thread: \n " +
                                  platform::SystemErrorText(platform::kErrorAccessDenied) + "\n");
    }
    {
        EventLog log;
        log.OpenLogFile(true, path);
        log.LogMessage("second run");
    }
    {
        std::ifstream in(path);  // closed before the folder goes: Windows keeps open files
        std::stringstream text;
        text << in.rdbuf();
        EXPECT_EQ(text.str(), "second run\n");
    }
    std::filesystem::remove_all(dir);
}

TEST(EventLog, ARelativeSettingsPathGetsItsLogFileBesideIt) {
#ifdef _WIN32
    GTEST_SKIP() << "the Linux settings path rule";
#endif
    const test::TempDir dir;
    // The folder as seen from here, spelt the way an operator types it: "./...".
    const std::string settings =
        "./" + std::filesystem::relative(dir.Path()).string() + "/ZuvoBox.ini";
    EventLog log;
    log.OpenLogFile(true, PosixLogPathFromSettings(settings));
    log.LogMessage("logged");
    EXPECT_TRUE(log.LoggingToFile());
    std::ifstream in(dir / "ZuvoBox.txt");
    std::string line;
    EXPECT_TRUE(std::getline(in, line));
    EXPECT_EQ(line, "logged");
}

TEST(EventLog, TheListKeepsTheLatestLinesAndTheFileEveryLine) {
    const test::TempDir dir;
    constexpr size_t kLines = 3 * (EventLog::kListLines + EventLog::kListTrim);
    {
        EventLog log;
        log.OpenLogFile(true, dir / "ZuvoBox.txt");
        for (size_t i = 0; i < kLines; ++i) {
            log.LogMessage(std::to_string(i));
        }
        EXPECT_GE(log.Lines().size(), EventLog::kListLines);
        EXPECT_LE(log.Lines().size(), EventLog::kListLines + EventLog::kListTrim);
        EXPECT_EQ(log.Lines().back(), std::to_string(kLines - 1));
        EXPECT_EQ(log.Lines()[log.Lines().size() - EventLog::kListLines],
                  std::to_string(kLines - EventLog::kListLines));
    }
    std::ifstream in(dir / "ZuvoBox.txt");
    size_t n = 0;
    for (std::string line; std::getline(in, line); ++n) {
        ASSERT_EQ(line, std::to_string(n));
    }
    EXPECT_EQ(n, kLines);
}

TEST(EventLog, UnopenableFileKeepsLoggingToTheListOnly) {
    EventLog log;
    log.OpenLogFile(true, "/nonexistent-folder/zuvo/ZuvoBox.txt");
    EXPECT_FALSE(log.LoggingToFile());
    log.LogMessage("still here");
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Could not open log file", "still here"}));
    EventLog off;
    off.OpenLogFile(false, "/nonexistent-folder/x.txt");
    EXPECT_TRUE(off.Lines().empty());
}

}  // namespace
}  // namespace zuvo
