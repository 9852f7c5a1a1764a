#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "platform/profile.h"

namespace zuvo {

// The interface program's settings: typed reads and writes by section and key on the INI
// file. No cache: every read goes to the file, every change is written at once.
class SettingsStore {
  public:
    SettingsStore(platform::IProfile& profile, std::string path)
        : profile_(profile), path_(std::move(path)) {}

    const std::string& Path() const { return path_; }

    size_t ReadString(const char* section, const char* key, const char* defaultValue, char* buf,
                      size_t size) const;
    // Caller's default when the key is missing or its value starts with "*".
    int ReadInt(const char* section, const char* key, int defaultValue) const;
    // True exactly when the value read starts with an upper-case "T".
    bool ReadBool(const char* section, const char* key, bool defaultValue) const;

    void WriteString(const char* section, const char* key, const std::string& text);
    void WriteInt(const char* section, const char* key, int value);
    void WriteBool(const char* section, const char* key, bool flag);

  private:
    platform::IProfile& profile_;
    std::string path_;
};

// Read buffers hold 10 characters with the terminating zero, so 9 characters are seen.
inline constexpr size_t kSettingsBufferSize = 10;

// The Windows build's INI path: ALLUSERSPROFILE (NT 6 and later, or older), else the program
// file's path cut at its first "." (not at position 0) with ".ini" appended.
struct WindowsPathInputs {
    std::optional<std::string> allUsersProfile;  // absent or empty: use the module path
    int platformId = 2;                          // 2 = NT family
    int majorVersion = 6;
    std::optional<std::string> modulePath;  // absent: GetModuleFileNameA failed
};
std::string ResolveWindowsIniPath(const WindowsPathInputs& in);

// The Linux path: $XDG_CONFIG_HOME/Zuvo Box/ZuvoBox.ini, else ~/.config/Zuvo Box/ZuvoBox.ini.
std::string ResolvePosixIniPath(const char* xdgConfigHome, const char* home);

// The event log file beside the settings file. The Windows rule cuts the whole path at its
// first "." and gives no log file (empty) for a path that starts with "."; the Linux rule
// cuts only the file name after its first character, so a folder like ~/.config, a relative
// path like ./ZuvoBox.ini and a hidden file keep their log beside them, and it never names
// the settings file itself.
std::string WindowsLogPathFromSettings(const std::string& settingsPath);
std::string PosixLogPathFromSettings(const std::string& settingsPath);

}  // namespace zuvo
