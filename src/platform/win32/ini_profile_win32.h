#pragma once

#include <string>

#include "platform/profile.h"

namespace zuvo::platform::win32 {

// The private-profile functions themselves: GetPrivateProfileStringA and
// WritePrivateProfileStringA on the given path. A read never changes the thread's last
// error (a missing file is not a failure the caller should see).
//
// WriteString writes nothing a later read could take for more than the one key: a value is
// cut at its first line break, and names that cannot be written as one key line are
// refused (ERROR_INVALID_PARAMETER): an empty key, a key holding "=" or starting with ";"
// or "[", a line break in the key or the section.
class Win32Profile final : public IProfile {
  public:
    size_t GetString(const std::string& section, const std::string& key,
                     const std::string& defaultValue, char* buf, size_t size,
                     const std::string& path) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& path) override;
};

}  // namespace zuvo::platform::win32
