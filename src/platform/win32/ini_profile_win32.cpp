#include "platform/win32/ini_profile_win32.h"

#include <windows.h>

#include <algorithm>
#include <climits>

#include "platform/ini_document.h"

namespace zuvo::platform::win32 {

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

size_t Win32Profile::GetString(const std::string& section, const std::string& key,
                               const std::string& defaultValue, char* buf, size_t size,
                               const std::string& path) {
    if (buf == nullptr || size == 0) {
        return 0;
    }
    const DWORD saved = ::GetLastError();
    const DWORD n = ::GetPrivateProfileStringA(
        section.c_str(), key.c_str(), defaultValue.c_str(), buf,
        static_cast<DWORD>(std::min<size_t>(size, INT_MAX)), path.c_str());
    ::SetLastError(saved);
    return n;
}

bool Win32Profile::WriteString(const std::string& section, const std::string& key,
                               const std::string& value, const std::string& path) {
    const std::string_view keyName = TrimBlanks(key);
    if (keyName.empty() || keyName.find('=') != std::string_view::npos || keyName.front() == ';' ||
        keyName.front() == '[' || HasLineBreak(keyName) || HasLineBreak(section)) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    const std::string oneLine = value.substr(0, value.find_first_of("\r\n"));
    return ::WritePrivateProfileStringA(section.c_str(), key.c_str(), oneLine.c_str(),
                                        path.c_str()) != FALSE;
}

}  // namespace zuvo::platform::win32
