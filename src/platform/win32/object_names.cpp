#include "platform/win32/object_names.h"

#include <windows.h>

namespace zuvo::platform::win32 {

std::string ObjectName(std::string_view base) {
    std::string name(base);
    char suffix[64];
    const DWORD n = ::GetEnvironmentVariableA("ZUVOBOX_OBJECT_SUFFIX", suffix, sizeof suffix);
    if (n > 0 && n < sizeof suffix) {
        name.append(suffix, n);
    }
    return name;
}

}  // namespace zuvo::platform::win32
