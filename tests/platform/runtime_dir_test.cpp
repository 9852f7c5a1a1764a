#include "platform/posix/runtime_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>

#include "platform/errors.h"
#include "temp_dir.h"

namespace zuvo::platform::posix {
namespace {

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

TEST(RuntimeDir, PathFollowsXdgRuntimeDirOnlyWhenAbsolute) {
    EXPECT_EQ(RuntimeDirPath("/run/user/1000", 1000), "/run/user/1000/zuvobox");
    EXPECT_EQ(RuntimeDirPath("/run/user/1000/", 1000), "/run/user/1000/zuvobox");
    EXPECT_EQ(RuntimeDirPath("relative", 1000), "/tmp/zuvobox-1000");
    EXPECT_EQ(RuntimeDirPath("", 42), "/tmp/zuvobox-42");
    EXPECT_EQ(RuntimeDirPath(nullptr, 42), "/tmp/zuvobox-42");
}

TEST(RuntimeDir, CreatedPrivateAndMadePrivateWhenFound) {
    test::TempDir dir;
    const std::string path = dir / "zuvobox";
    std::string error;
    ASSERT_TRUE(PrepareRuntimeDir(path, &error)) << error;
    EXPECT_EQ(ModeOf(path), 0700u);

    ASSERT_EQ(::chmod(path.c_str(), 0755), 0);
    ASSERT_TRUE(PrepareRuntimeDir(path, &error)) << error;
    EXPECT_EQ(ModeOf(path), 0700u);
}

TEST(RuntimeDir, RefusesWhatIsNotOurOwnFolder) {
    test::TempDir dir;
    std::string error;

    const std::string file = dir / "file";
    std::ofstream(file) << "x";
    EXPECT_FALSE(PrepareRuntimeDir(file, &error));
    EXPECT_NE(error.find(file), std::string::npos);

    const std::string link = dir / "link";
    ASSERT_EQ(::symlink(dir.Path().c_str(), link.c_str()), 0);
    EXPECT_FALSE(PrepareRuntimeDir(link, &error));

    EXPECT_FALSE(PrepareRuntimeDir(dir / "missing/zuvobox", &error));
    EXPECT_EQ(GetLastError(), FromErrno(ENOENT));

    if (::geteuid() == 0) {  // only root can plant a folder owned by someone else
        const std::string foreign = dir / "foreign";
        ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
        ASSERT_EQ(::chmod(foreign.c_str(), 0777), 0);
        ASSERT_EQ(::chown(foreign.c_str(), 12345, 12345), 0);
        EXPECT_FALSE(PrepareRuntimeDir(foreign, &error));
        EXPECT_NE(error.find("another user"), std::string::npos) << error;
        EXPECT_EQ(ModeOf(foreign), 0777u);  // left alone, not taken over
    }
}

TEST(EnsureParentFolder, CreatesMissingLevelsPrivately) {
    test::TempDir dir;
    EXPECT_TRUE(EnsureParentFolder(dir / "a/b c/ZuvoBox.ini"));
    EXPECT_EQ(ModeOf(dir / "a"), 0700u);
    EXPECT_EQ(ModeOf(dir / "a/b c"), 0700u);
    EXPECT_TRUE(EnsureParentFolder(dir / "a/b c/ZuvoBox.ini"));  // already there
    EXPECT_TRUE(EnsureParentFolder("ZuvoBox.ini"));

    std::ofstream(dir / "plain") << "x";
    EXPECT_FALSE(EnsureParentFolder(dir / "plain/ZuvoBox.ini"));
    EXPECT_EQ(GetLastError(), FromErrno(ENOTDIR));
}

}  // namespace
}  // namespace zuvo::platform::posix
