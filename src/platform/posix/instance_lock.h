#pragma once

#include <string>

#include "platform/instance_lock.h"

namespace zuvo::platform::posix {

// The named lock as an flock on "<folder>/<name>.lock", by default in the per-user LockDir(),
// so that it does not depend on XDG_RUNTIME_DIR. The file stays open, and so locked,
// for the life of this object; the kernel drops the lock when the process ends however it
// ends, so a crashed program never blocks the next start. flock belongs to the open file
// description, so a second PosixInstanceLock in the same process conflicts with the first,
// and the descriptor is close-on-exec so programs started from here do not keep the lock.
class PosixInstanceLock final : public IInstanceLock {
  public:
    // folder: where the lock file lives; empty means LockDir().
    explicit PosixInstanceLock(std::string folder = {});
    ~PosixInstanceLock() override;
    PosixInstanceLock(const PosixInstanceLock&) = delete;
    PosixInstanceLock& operator=(const PosixInstanceLock&) = delete;

    // kAcquired (last error 0); kAlreadyExists when another holder has the lock (last error
    // ERROR_ALREADY_EXISTS); kFailed when the folder or file cannot be used (last error set).
    // One name per object: once acquired, later calls answer kAcquired.
    InstanceLockResult Acquire(const std::string& name) override;
    // The lock is ours: no other instance of either program runs for this user.
    bool Held() const { return fd_ >= 0; }

  private:
    std::string folder_;
    int fd_ = -1;
};

}  // namespace zuvo::platform::posix
