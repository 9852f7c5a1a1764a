#pragma once

#include <string>

namespace zuvo::platform::posix {

// The per-user folder for the programs' lock, pty links and RTTY socket:
// "$XDG_RUNTIME_DIR/zuvobox" when XDG_RUNTIME_DIR is set and absolute, else
// "/tmp/zuvobox-<uid>". Created with mode 0700 when missing. Returns "" when the folder
// cannot be used, with the last error set and, if error is given, a sentence that names the
// folder and the reason.
std::string RuntimeDir(std::string* error = nullptr);

// The folder RuntimeDir uses for the given environment value (may be null) and user id.
std::string RuntimeDirPath(const char* xdgRuntimeDir, unsigned uid);

// The per-user folder whose name nothing in the environment changes: "/tmp/zuvobox-<uid>".
// It holds the single-instance lock (and the RTTY message socket), so a second run under
// another XDG_RUNTIME_DIR, as sudo may give, still meets the first one's lock. Tests, which
// run side by side, give each program its own with ZUVOBOX_LOCK_DIR (an absolute path).
// Prepared like the runtime folder; "" on failure, as RuntimeDir.
std::string LockDir(std::string* error = nullptr);

// The folder LockDir uses for the given ZUVOBOX_LOCK_DIR value (may be null) and user id.
std::string LockDirPath(const char* lockDirOverride, unsigned uid);

// Makes sure path is a folder of this user that nobody else can enter: creates it with mode
// 0700, or takes an existing one after checking it is a real folder (not a link) owned by
// this user, and removes group and other permission bits from it. Since /tmp is shared, a
// folder planted there by another user is refused, never used. False with the last error
// set (and error filled when given) on refusal or failure.
bool PrepareRuntimeDir(const std::string& path, std::string* error = nullptr);

// Creates the folders above filePath that are missing (like mkdir -p), each with mode 0700.
// True when the folder exists afterwards (also when filePath names no folder); false with
// the last error set otherwise.
bool EnsureParentFolder(const std::string& filePath);

}  // namespace zuvo::platform::posix
