#include "core/settings_store.h"

#include <cstdio>
#include <cstdlib>

namespace zuvo {

size_t SettingsStore::ReadString(const char* section, const char* key, const char* defaultValue,
                                 char* buf, size_t size) const {
    return profile_.GetString(section, key, defaultValue, buf, size, path_);
}

int SettingsStore::ReadInt(const char* section, const char* key, int defaultValue) const {
    char buf[kSettingsBufferSize] = {};
    ReadString(section, key, "*", buf, sizeof buf);
    if (buf[0] == '*') {
        return defaultValue;
    }
    return std::atoi(buf);
}

bool SettingsStore::ReadBool(const char* section, const char* key, bool defaultValue) const {
    char buf[kSettingsBufferSize] = {};
    ReadString(section, key, defaultValue ? "TRUE" : "FALSE", buf, sizeof buf);
    return buf[0] == 'T';
}

void SettingsStore::WriteString(const char* section, const char* key, const std::string& text) {
    profile_.WriteString(section, key, text, path_);  // failures are ignored by design
}

void SettingsStore::WriteInt(const char* section, const char* key, int value) {
    char buf[kSettingsBufferSize + 2] = {};
    std::snprintf(buf, sizeof buf, "%d", value);
    WriteString(section, key, buf);
}

void SettingsStore::WriteBool(const char* section, const char* key, bool flag) {
    WriteString(section, key, flag ? "TRUE" : "FALSE");
}

std::string ResolveWindowsIniPath(const WindowsPathInputs& in) {
    if (in.allUsersProfile && !in.allUsersProfile->empty()) {
        if (in.platformId == 2 && in.majorVersion >= 6) {
            return *in.allUsersProfile + "\\Zuvo Box\\ZuvoBox.ini";
        }
        return *in.allUsersProfile + "\\Application Data\\Zuvo Box\\ZuvoBox.ini";
    }
    if (!in.modulePath) {
        return {};
    }
    std::string path = in.modulePath->substr(0, 1024);
    size_t dot = path.find('.');
    if (dot != std::string::npos && dot != 0) {
        path.resize(dot);
    }
    return path + ".ini";
}

std::string ResolvePosixIniPath(const char* xdgConfigHome, const char* home) {
    std::string base;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        base = xdgConfigHome;
    } else if (home != nullptr && home[0] != '\0') {
        base = std::string(home) + "/.config";
    } else {
        base = ".";
    }
    return base + "/Zuvo Box/ZuvoBox.ini";
}

std::string WindowsLogPathFromSettings(const std::string& settingsPath) {
    if (settingsPath.empty() || settingsPath[0] == '.') {
        return {};
    }
    size_t dot = settingsPath.find('.');
    return settingsPath.substr(0, dot) + ".txt";
}

std::string PosixLogPathFromSettings(const std::string& settingsPath) {
    if (settingsPath.empty()) {
        return {};
    }
    size_t slash = settingsPath.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // A hidden file's leading "." is part of its name, not the start of an extension.
    size_t dot = settingsPath.find('.', nameStart + 1);
    std::string log = settingsPath.substr(0, dot) + ".txt";
    // Settings kept in a ".txt" file: emptying the log must not empty the settings.
    if (log == settingsPath) {
        log += ".txt";
    }
    return log;
}

}  // namespace zuvo
