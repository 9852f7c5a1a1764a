#pragma once

#include <windows.h>

#include <string>

#include "platform/instance_lock.h"

namespace zuvo::platform::win32 {

// The named mutex both programs create (CreateMutexA, no security attributes, not owned).
// kAlreadyExists when the system reports that it existed (ERROR_ALREADY_EXISTS); kFailed,
// with the last error set, when it could not be created at all. The handle stays open for
// the life of this object, and the system drops the mutex when the last handle closes, so a
// program that crashed never blocks the next start. One name per object.
class Win32InstanceLock final : public IInstanceLock {
  public:
    Win32InstanceLock() = default;
    ~Win32InstanceLock() override;
    Win32InstanceLock(const Win32InstanceLock&) = delete;
    Win32InstanceLock& operator=(const Win32InstanceLock&) = delete;

    // name gets the tests' object suffix (ObjectName).
    InstanceLockResult Acquire(const std::string& name) override;

  private:
    HANDLE mutex_ = nullptr;
};

}  // namespace zuvo::platform::win32
