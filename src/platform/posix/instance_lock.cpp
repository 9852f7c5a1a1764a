#include "platform/posix/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/errors.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/runtime_dir.h"

namespace zuvo::platform::posix {

PosixInstanceLock::PosixInstanceLock(std::string folder) : folder_(std::move(folder)) {}

PosixInstanceLock::~PosixInstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

InstanceLockResult PosixInstanceLock::Acquire(const std::string& name) {
    if (fd_ >= 0) {
        SetLastError(kErrorSuccess);
        return InstanceLockResult::kAcquired;
    }
    std::string folder = folder_;
    if (folder.empty()) {
        folder = LockDir();
        if (folder.empty()) {
            return InstanceLockResult::kFailed;
        }
    }
    const std::string path = folder + "/" + name + ".lock";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return InstanceLockResult::kFailed;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            SetLastError(kErrorAlreadyExists);
            return InstanceLockResult::kAlreadyExists;
        }
        SetLastError(ErrorFromErrno(err));
        return InstanceLockResult::kFailed;
    }
    fd_ = fd;
    SetLastError(kErrorSuccess);
    return InstanceLockResult::kAcquired;
}

}  // namespace zuvo::platform::posix
