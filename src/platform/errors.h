#pragma once

#include <cstdint>
#include <string>

namespace zuvo::platform {

// Portable error codes. The logic tests for a few codes by name; they keep the values the
// Windows build gets from GetLastError so that both builds log and compare the same numbers.
// The POSIX layer maps errno values onto these where the meaning matches and otherwise
// reports FromErrno(errno), which never collides with a Windows code.
inline constexpr uint32_t kErrorSuccess = 0;
inline constexpr uint32_t kErrorFileNotFound = 2;
inline constexpr uint32_t kErrorAccessDenied = 5;
inline constexpr uint32_t kErrorSharingViolation = 32;  // another program holds it
inline constexpr uint32_t kErrorBrokenPipe = 109;
inline constexpr uint32_t kErrorAlreadyExists = 183;
// A host port write found no room: the client has stopped reading (WAIT_TIMEOUT).
inline constexpr uint32_t kErrorNoRoom = 258;
inline constexpr uint32_t kErrorPipeConnected = 535;
inline constexpr uint32_t kErrorIoPending = 997;
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;

inline constexpr uint32_t kErrnoFlag = 0x20000000u;
constexpr uint32_t FromErrno(int err) {
    return kErrnoFlag | static_cast<uint32_t>(err);
}

// The calling thread's last error, as GetLastError/SetLastError keep it: each thread has its
// own slot, so the device read thread and the main thread never hide each other's errors.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// The system's message text for a code, without trailing white space. Never empty.
std::string SystemErrorText(uint32_t code);

}  // namespace zuvo::platform
