#pragma once

#include "core/dialog_host.h"
#include "platform/instance_lock.h"

namespace zuvo {

inline constexpr const char* kMutexName = "ZuvoBoxMutex";
inline constexpr const char* kRefusalText =
    "The Zuvo Box utility program or the Zuvo\nBox interface program is already running.\n"
    "Only one instance can run at a time.";

// Claims the lock both programs share. Another instance holding it: shows the refusal text
// and returns false, so the caller ends without a window and without touching the box. Any
// other failure to create the lock is not a refusal: the program runs.
bool ClaimSingleInstance(platform::IInstanceLock& lock, IDialogHost& dialogs);

}  // namespace zuvo
