#pragma once

#include <cstdint>

namespace zuvo::platform::posix {

// Maps an errno value onto the portable code the logic compares: a device that has gone
// away becomes kErrorDeviceNotConnected, a peer that closed becomes kErrorBrokenPipe, and
// everything else keeps its errno (as FromErrno) so the system's text stays exact.
uint32_t ErrorFromErrno(int err);

// Sets the calling thread's last error from errno.
void SetLastErrorFromErrno();

}  // namespace zuvo::platform::posix
