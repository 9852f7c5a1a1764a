#pragma once

#include <optional>
#include <string>

namespace zuvo::platform::win32 {

// What the settings path is made of on Windows.

// The whole value of an environment variable (GetEnvironmentVariableA), whatever its
// length; nullopt when it is not set.
std::optional<std::string> EnvironmentVariable(const char* name);

// GetVersionExA's platform identifier and major version. False when the call failed.
bool SystemVersion(int& platformId, int& majorVersion);

// The running program file's full path (GetModuleFileNameA, at most 1024 characters);
// nullopt when the call failed.
std::optional<std::string> ProgramPath();

// Creates the folder that holds filePath, and those above it, when they are missing.
// True when the folder exists afterwards.
bool CreateParentFolder(const std::string& filePath);

}  // namespace zuvo::platform::win32
