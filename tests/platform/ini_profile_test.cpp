#include "platform/posix/ini_profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/errors.h"
#include "platform/posix/runtime_dir.h"
#include "temp_dir.h"

namespace zuvo::platform::posix {
namespace {

std::string Slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void Spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder)) {
        ++n;
    }
    return n;
}

TEST(IniProfile, WriteCreatesTheFileAndKeepsOtherLinesOfAnExistingOne) {
    test::TempDir dir;
    const std::string path = dir / "ZuvoBox.ini";
    IniProfile profile;
    ASSERT_TRUE(profile.WriteString("Keyer", "Port", "3", path));
    EXPECT_EQ(Slurp(path), "[Keyer]\nPort=3\n");

    Spit(path, "; hand-written\r\n[keyer]\r\nport=3\r\n\r\n[Box]\r\nLogToFile=TRUE\r\n");
    ASSERT_TRUE(profile.WriteString("Keyer", "Port", "-1", path));
    ASSERT_TRUE(profile.WriteString("Keyer", "SmartEditing", "TRUE", path));
    EXPECT_EQ(Slurp(path),
              "; hand-written\r\n[keyer]\r\nport=-1\r\nSmartEditing=TRUE\r\n\r\n"
              "[Box]\r\nLogToFile=TRUE\r\n");
    EXPECT_EQ(FilesIn(dir.Path()), 1u);  // no temporary file left behind
}

TEST(IniProfile, ReadsGoToTheFileEveryTimeAndCutAtTheBuffer) {
    test::TempDir dir;
    const std::string path = dir / "ZuvoBox.ini";
    IniProfile profile;
    char buf[10];
    EXPECT_EQ(profile.GetString("Keyer", "Port", "*", buf, sizeof buf, path), 1u);
    EXPECT_STREQ(buf, "*");

    Spit(path, "[Keyer]\nPort=123456789012\n");
    EXPECT_EQ(profile.GetString("Keyer", "Port", "*", buf, sizeof buf, path), 9u);
    EXPECT_STREQ(buf, "123456789");

    Spit(path, "[Keyer]\nPort=\"7\"\n");  // changed behind the profile's back: no cache
    EXPECT_EQ(profile.GetString("KEYER", "port", "*", buf, sizeof buf, path), 1u);
    EXPECT_STREQ(buf, "7");

    EXPECT_EQ(profile.GetString("Keyer", "Port", "FALSE ", buf, sizeof buf, dir.Path()), 5u);
    EXPECT_STREQ(buf, "FALSE");  // a folder reads as no file
}

TEST(IniProfile, MissingFolderMakesTheWriteFailAndIsNotCreated) {
    test::TempDir dir;
    const std::string path = dir / "Zuvo Box/ZuvoBox.ini";
    IniProfile profile;
    SetLastError(0);
    EXPECT_FALSE(profile.WriteString("Box", "Verbose", "TRUE", path));
    EXPECT_EQ(GetLastError(), FromErrno(ENOENT));
    EXPECT_FALSE(std::filesystem::exists(dir / "Zuvo Box"));

    char buf[10];
    EXPECT_EQ(profile.GetString("Box", "Verbose", "FALSE", buf, sizeof buf, path), 5u);
    EXPECT_STREQ(buf, "FALSE");

    ASSERT_TRUE(EnsureParentFolder(path));
    EXPECT_TRUE(profile.WriteString("Box", "Verbose", "TRUE", path));
    EXPECT_EQ(Slurp(path), "[Box]\nVerbose=TRUE\n");
}

TEST(IniProfile, ReplacingKeepsPermissionsAndSymbolicLinks) {
    test::TempDir dir;
    const std::string real = dir / "real.ini";
    const std::string link = dir / "link.ini";
    Spit(real, "[Box]\nVerbose=FALSE\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);

    IniProfile profile;
    ASSERT_TRUE(profile.WriteString("Box", "Verbose", "TRUE", link));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(Slurp(real), "[Box]\nVerbose=TRUE\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniProfile, UnreadableFileIsNotOverwritten) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root reads every file";
    }
    test::TempDir dir;
    const std::string path = dir / "ZuvoBox.ini";
    Spit(path, "[Box]\nLogToFile=TRUE\n");
    ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
    IniProfile profile;
    EXPECT_FALSE(profile.WriteString("Box", "Verbose", "TRUE", path));
    EXPECT_EQ(GetLastError(), FromErrno(EACCES));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(Slurp(path), "[Box]\nLogToFile=TRUE\n");
}

}  // namespace
}  // namespace zuvo::platform::posix
