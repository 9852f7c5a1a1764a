#include "platform/posix/errno_map.h"

#include <cerrno>

#include "platform/errors.h"

namespace zuvo::platform::posix {

uint32_t ErrorFromErrno(int err) {
    switch (err) {
        case 0:
            return kErrorSuccess;
        case ENODEV:
        case ENXIO:
            return kErrorDeviceNotConnected;
        case EPIPE:
            return kErrorBrokenPipe;
        default:
            return FromErrno(err);
    }
}

void SetLastErrorFromErrno() {
    SetLastError(ErrorFromErrno(errno));
}

}  // namespace zuvo::platform::posix
