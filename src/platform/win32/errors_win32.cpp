// The thread's last error and the system's message texts on Windows: the real
// GetLastError/SetLastError slot, so a Win32 call's failure reaches the event log untouched,
// and FormatMessageA for the text.

#include <windows.h>

#include <cstring>
#include <string>

#include "platform/errors.h"

namespace zuvo::platform {

uint32_t GetLastError() {
    return ::GetLastError();
}

void SetLastError(uint32_t code) {
    ::SetLastError(code);
}

std::string SystemErrorText(uint32_t code) {
    const DWORD saved = ::GetLastError();
    std::string text;
    if ((code & kErrnoFlag) != 0) {
        // A C library error the logic reports by its errno value (never a Win32 code).
        const char* message = std::strerror(static_cast<int>(code & ~kErrnoFlag));
        text = message != nullptr ? message : "";
    } else {
        char* message = nullptr;
        const DWORD n =
            ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                 FORMAT_MESSAGE_IGNORE_INSERTS,
                             nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                             reinterpret_cast<LPSTR>(&message), 0, nullptr);
        if (n != 0 && message != nullptr) {
            text.assign(message, n);
        }
        if (message != nullptr) {
            ::LocalFree(message);
        }
    }
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ' ||
                             text.back() == '\t')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = "Unknown error " + std::to_string(code);
    }
    ::SetLastError(saved);
    return text;
}

}  // namespace zuvo::platform
