#pragma once

#include <cstddef>
#include <string>

namespace zuvo::platform {

// The private-profile (INI) functions with Windows semantics: sections and keys compared
// without regard to letter case; lines the writer does not touch (comments, other keys,
// blank lines) kept as they are.
class IProfile {
  public:
    virtual ~IProfile() = default;

    // Copies the value (or the default, when the file, section or key is missing) into buf,
    // cut to size - 1 characters and zero-terminated; returns the number copied. Leading and
    // trailing blanks of the value are dropped, and one pair of enclosing quotes.
    virtual size_t GetString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, char* buf, size_t size,
                             const std::string& path) = 0;

    // Sets key=value, adding the section and key when missing; creates the file but not its
    // folder. False on failure (last error set).
    virtual bool WriteString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) = 0;
};

}  // namespace zuvo::platform
