#include <gtest/gtest.h>

#include "core/settings_store.h"

namespace zuvo {
namespace {

TEST(SettingsPaths, WindowsAllUsersProfileByVersion) {
    WindowsPathInputs in;
    in.allUsersProfile = "C:\\ProgramData";
    in.majorVersion = 6;
    EXPECT_EQ(ResolveWindowsIniPath(in), "C:\\ProgramData\\Zuvo Box\\ZuvoBox.ini");
    in.majorVersion = 5;
    EXPECT_EQ(ResolveWindowsIniPath(in),
              "C:\\ProgramData\\Application Data\\Zuvo Box\\ZuvoBox.ini");
    in.majorVersion = 6;
    in.platformId = 1;  // not the NT family
    EXPECT_EQ(ResolveWindowsIniPath(in),
              "C:\\ProgramData\\Application Data\\Zuvo Box\\ZuvoBox.ini");
}

TEST(SettingsPaths, WindowsProgramPathIsCutAtTheFirstDot) {
    WindowsPathInputs in;
    in.allUsersProfile = "";  // empty counts as absent
    in.modulePath = "C:\\Tools\\ZuvoBox.exe";
    EXPECT_EQ(ResolveWindowsIniPath(in), "C:\\Tools\\ZuvoBox.ini");
    in.modulePath = "C:\\My.Tools\\ZuvoBox.exe";
    EXPECT_EQ(ResolveWindowsIniPath(in), "C:\\My.ini");
    in.modulePath.reset();
    EXPECT_EQ(ResolveWindowsIniPath(in), "");
    EXPECT_EQ(WindowsLogPathFromSettings("C:\\Tools\\ZuvoBox.ini"), "C:\\Tools\\ZuvoBox.txt");
    EXPECT_EQ(WindowsLogPathFromSettings(".\\ZuvoBox.ini"), "");  // no log file
}

TEST(SettingsPaths, PosixPathsKeepDottedFolders) {
    EXPECT_EQ(ResolvePosixIniPath("/xdg", "/home/op"), "/xdg/Zuvo Box/ZuvoBox.ini");
    EXPECT_EQ(ResolvePosixIniPath(nullptr, "/home/op"), "/home/op/.config/Zuvo Box/ZuvoBox.ini");
    EXPECT_EQ(ResolvePosixIniPath("relative", "/home/op"), "/home/op/.config/Zuvo Box/ZuvoBox.ini");
    EXPECT_EQ(PosixLogPathFromSettings("/home/op/.config/Zuvo Box/ZuvoBox.ini"),
              "/home/op/.config/Zuvo Box/ZuvoBox.txt");
    EXPECT_EQ(PosixLogPathFromSettings("/tmp/my.dir/settings"), "/tmp/my.dir/settings.txt");
    EXPECT_EQ(PosixLogPathFromSettings("./ZuvoBox.ini"), "./ZuvoBox.txt");
    EXPECT_EQ(PosixLogPathFromSettings("../radio/.zuvobox.ini"), "../radio/.zuvobox.txt");
    EXPECT_EQ(PosixLogPathFromSettings(".zuvobox"), ".zuvobox.txt");
    // Never the settings file itself, which opening the log would empty.
    EXPECT_EQ(PosixLogPathFromSettings("/home/op/zuvo.txt"), "/home/op/zuvo.txt.txt");
}

}  // namespace
}  // namespace zuvo
