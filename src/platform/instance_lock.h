#pragma once

#include <string>

namespace zuvo::platform {

enum class InstanceLockResult { kAcquired, kAlreadyExists, kFailed };

// A named lock held for the life of the process, dropped by the system when the process
// ends (however it ends). Both programs claim the same name.
class IInstanceLock {
  public:
    virtual ~IInstanceLock() = default;
    virtual InstanceLockResult Acquire(const std::string& name) = 0;
};

}  // namespace zuvo::platform
