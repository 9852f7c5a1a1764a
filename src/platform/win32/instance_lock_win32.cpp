#include "platform/win32/instance_lock_win32.h"

#include "platform/win32/object_names.h"

namespace zuvo::platform::win32 {

Win32InstanceLock::~Win32InstanceLock() {
    if (mutex_ != nullptr) {
        ::CloseHandle(mutex_);
    }
}

InstanceLockResult Win32InstanceLock::Acquire(const std::string& name) {
    if (mutex_ != nullptr) {
        ::SetLastError(ERROR_SUCCESS);
        return InstanceLockResult::kAcquired;
    }
    HANDLE mutex = ::CreateMutexA(nullptr, FALSE, ObjectName(name).c_str());
    if (mutex == nullptr) {
        return InstanceLockResult::kFailed;
    }
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        ::SetLastError(ERROR_ALREADY_EXISTS);
        return InstanceLockResult::kAlreadyExists;
    }
    mutex_ = mutex;
    return InstanceLockResult::kAcquired;
}

}  // namespace zuvo::platform::win32
