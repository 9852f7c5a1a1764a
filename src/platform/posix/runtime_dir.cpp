#include "platform/posix/runtime_dir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/errno_map.h"

namespace zuvo::platform::posix {

namespace {

bool Fail(std::string* error, const std::string& text, int err) {
    SetLastError(ErrorFromErrno(err));
    if (error != nullptr) {
        *error = text + ": " + std::strerror(err);
    }
    return false;
}

}  // namespace

std::string RuntimeDirPath(const char* xdgRuntimeDir, unsigned uid) {
    if (xdgRuntimeDir != nullptr && xdgRuntimeDir[0] == '/') {
        std::string path = xdgRuntimeDir;
        while (path.size() > 1 && path.back() == '/') {
            path.pop_back();
        }
        return (path == "/" ? "" : path) + "/zuvobox";
    }
    return "/tmp/zuvobox-" + std::to_string(uid);
}

bool PrepareRuntimeDir(const std::string& path, std::string* error) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return Fail(error, "Cannot create the runtime folder " + path, errno);
    }
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return Fail(error, "Cannot use the runtime folder " + path, errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return Fail(error, "The runtime folder " + path + " is not a folder", ENOTDIR);
    }
    if (st.st_uid != ::geteuid()) {
        return Fail(error, "The runtime folder " + path + " belongs to another user", EPERM);
    }
    if ((st.st_mode & 077) != 0 && ::chmod(path.c_str(), 0700) != 0) {
        return Fail(error, "Cannot make the runtime folder " + path + " private", errno);
    }
    return true;
}

std::string LockDirPath(const char* lockDirOverride, unsigned uid) {
    if (lockDirOverride != nullptr && lockDirOverride[0] == '/' && lockDirOverride[1] != '\0') {
        return lockDirOverride;
    }
    return "/tmp/zuvobox-" + std::to_string(uid);
}

std::string LockDir(std::string* error) {
    const std::string path = LockDirPath(std::getenv("ZUVOBOX_LOCK_DIR"), ::geteuid());
    return PrepareRuntimeDir(path, error) ? path : std::string();
}

std::string RuntimeDir(std::string* error) {
    const std::string path = RuntimeDirPath(std::getenv("XDG_RUNTIME_DIR"), ::geteuid());
    return PrepareRuntimeDir(path, error) ? path : std::string();
}

bool EnsureParentFolder(const std::string& filePath) {
    const size_t slash = filePath.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return true;
    }
    const std::string folder = filePath.substr(0, slash);
    // Create each missing level from the top down; an existing level is left as it is.
    size_t pos = 0;
    while (pos != std::string::npos) {
        pos = folder.find('/', pos + 1);
        const std::string level = folder.substr(0, pos);
        if (level.empty() || level.back() == '/') {
            continue;
        }
        struct stat st {};
        if (::stat(level.c_str(), &st) == 0) {
            continue;  // an existing level (or a file there, caught below) is left alone
        }
        if (::mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) {
            SetLastErrorFromErrno();
            return false;
        }
    }
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        SetLastError(ErrorFromErrno(ENOTDIR));
        return false;
    }
    return true;
}

}  // namespace zuvo::platform::posix
