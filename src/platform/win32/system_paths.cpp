#include "platform/win32/system_paths.h"

#include <windows.h>

#include <vector>

namespace zuvo::platform::win32 {

std::optional<std::string> EnvironmentVariable(const char* name) {
    // The value may change between the two calls; ask again until it fits.
    DWORD size = ::GetEnvironmentVariableA(name, nullptr, 0);
    while (size != 0) {
        std::vector<char> value(size);
        const DWORD n = ::GetEnvironmentVariableA(name, value.data(), size);
        if (n < size) {
            return std::string(value.data(), n);
        }
        size = n;
    }
    if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) {
        return std::nullopt;
    }
    return std::string();
}

bool SystemVersion(int& platformId, int& majorVersion) {
    OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (!::GetVersionExA(&info)) {
        return false;
    }
    platformId = static_cast<int>(info.dwPlatformId);
    majorVersion = static_cast<int>(info.dwMajorVersion);
    return true;
}

std::optional<std::string> ProgramPath() {
    char path[1024];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, sizeof path);
    if (n == 0) {
        return std::nullopt;
    }
    return std::string(path, n);
}

bool CreateParentFolder(const std::string& filePath) {
    const size_t slash = filePath.find_last_of("\\/");
    if (slash == std::string::npos || slash == 0) {
        return true;
    }
    const std::string folder = filePath.substr(0, slash);
    if (::CreateDirectoryA(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return true;
    }
    if (::GetLastError() == ERROR_PATH_NOT_FOUND && CreateParentFolder(folder)) {
        return ::CreateDirectoryA(folder.c_str(), nullptr) ||
               ::GetLastError() == ERROR_ALREADY_EXISTS;
    }
    return false;
}

}  // namespace zuvo::platform::win32
