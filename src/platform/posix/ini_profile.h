#pragma once

#include <optional>
#include <string>

#include "platform/profile.h"

namespace zuvo::platform::posix {

// The private-profile functions on real files.
//
// GetString reads the whole file at every call; a missing or unreadable file reads as no
// file, so the default is returned.
//
// WriteString reads the file, changes the one key, and replaces the file with a temporary
// file written beside it and renamed over it, so a crash or a full disk never leaves a half
// written settings file. A missing file is created (mode 0666 less the umask); an existing
// file keeps its permission bits, and a symbolic link is followed so the link survives. The
// folder is never created: a missing folder fails with the last error set. A file that
// exists but cannot be read is not overwritten (the write fails), so its other settings are
// not lost.
class IniProfile final : public IProfile {
  public:
    size_t GetString(const std::string& section, const std::string& key,
                     const std::string& defaultValue, char* buf, size_t size,
                     const std::string& path) override;
    bool WriteString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& path) override;
};

// The whole content of a file; nullopt with the last error set when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

}  // namespace zuvo::platform::posix
