#include "core/single_instance.h"

namespace zuvo {

bool ClaimSingleInstance(platform::IInstanceLock& lock, IDialogHost& dialogs) {
    if (lock.Acquire(kMutexName) == platform::InstanceLockResult::kAlreadyExists) {
        dialogs.ShowError(kRefusalText);
        return false;
    }
    return true;
}

}  // namespace zuvo
