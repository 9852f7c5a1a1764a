#include "platform/posix/instance_lock.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/errors.h"
#include "temp_dir.h"

extern char** environ;

namespace zuvo::platform::posix {
namespace {

TEST(PosixInstanceLock, SecondHolderInTheSameProcessIsRefused) {
    test::TempDir dir;
    PosixInstanceLock first(dir.Path());
    PosixInstanceLock second(dir.Path());
    PosixInstanceLock other(dir.Path());
    EXPECT_EQ(first.Acquire("ZuvoBoxMutex"), InstanceLockResult::kAcquired);
    EXPECT_EQ(second.Acquire("ZuvoBoxMutex"), InstanceLockResult::kAlreadyExists);
    EXPECT_EQ(GetLastError(), kErrorAlreadyExists);
    EXPECT_EQ(other.Acquire("AnotherName"), InstanceLockResult::kAcquired);
}

TEST(PosixInstanceLock, UnusableFolderFailsRatherThanRefuses) {
    test::TempDir dir;
    PosixInstanceLock lock(dir / "missing");
    EXPECT_EQ(lock.Acquire("ZuvoBoxMutex"), InstanceLockResult::kFailed);
    EXPECT_NE(GetLastError(), kErrorSuccess);
}

TEST(PosixInstanceLock, KilledHolderReleasesTheLock) {
    test::TempDir dir;
    const std::string path = dir / "ZuvoBoxMutex.lock";
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Only async-signal-safe calls between fork and _exit.
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT, 0600);
        const char ok = (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) ? 1 : 0;
        (void)::write(ready[1], &ok, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 1);

    {
        PosixInstanceLock lock(dir.Path());
        EXPECT_EQ(lock.Acquire("ZuvoBoxMutex"), InstanceLockResult::kAlreadyExists);
    }
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);

    PosixInstanceLock lock(dir.Path());
    EXPECT_EQ(lock.Acquire("ZuvoBoxMutex"), InstanceLockResult::kAcquired);
}

TEST(PosixInstanceLock, ProgramsStartedByTheHolderDoNotKeepIt) {
    test::TempDir dir;
    pid_t child = -1;
    {
        PosixInstanceLock holder(dir.Path());
        ASSERT_EQ(holder.Acquire("ZuvoBoxMutex"), InstanceLockResult::kAcquired);
        char sleepArg[] = "30";
        char program[] = "sleep";
        char* argv[] = {program, sleepArg, nullptr};
        ASSERT_EQ(::posix_spawnp(&child, "sleep", nullptr, nullptr, argv, environ), 0);
    }
    PosixInstanceLock next(dir.Path());
    EXPECT_EQ(next.Acquire("ZuvoBoxMutex"), InstanceLockResult::kAcquired);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

}  // namespace
}  // namespace zuvo::platform::posix
