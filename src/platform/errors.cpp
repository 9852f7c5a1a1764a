#include "platform/errors.h"

#include <cerrno>
#include <cstring>

namespace zuvo::platform {

namespace {
thread_local uint32_t t_lastError = 0;

std::string ErrnoText(int err) {
    const char* text = std::strerror(err);
    return text != nullptr ? std::string(text) : "Unknown error " + std::to_string(err);
}
}  // namespace

uint32_t GetLastError() {
    return t_lastError;
}
void SetLastError(uint32_t code) {
    t_lastError = code;
}

std::string SystemErrorText(uint32_t code) {
    if ((code & kErrnoFlag) != 0) {
        return ErrnoText(static_cast<int>(code & ~kErrnoFlag));
    }
    switch (code) {
        case kErrorSuccess:
            return "The operation completed successfully.";
        case kErrorFileNotFound:
            return ErrnoText(ENOENT);
        case kErrorAccessDenied:
            return ErrnoText(EACCES);
        case kErrorSharingViolation:
            return "The process cannot access the file because it is being used by another "
                   "process.";
        case kErrorBrokenPipe:
            return "The pipe has been ended.";
        case kErrorAlreadyExists:
            return ErrnoText(EEXIST);
        case kErrorNoRoom:
            return "The wait operation timed out.";
        case kErrorPipeConnected:
            return "There is a process on other end of the pipe.";
        case kErrorIoPending:
            return "Overlapped I/O operation is in progress.";
        case kErrorDeviceNotConnected:
            return "The device is not connected.";
        default:
            return "Unknown error " + std::to_string(code);
    }
}

}  // namespace zuvo::platform
