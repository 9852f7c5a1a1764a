#include "platform/posix/ini_profile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/ini_document.h"
#include "platform/posix/errno_map.h"

namespace zuvo::platform::posix {

namespace {

std::atomic<unsigned> g_tempCounter{0};

// Keeps errno across a cleanup call so the cause of the failure is what gets reported.
void CloseKeepingErrno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

void UnlinkKeepingErrno(const std::string& path) {
    const int saved = errno;
    ::unlink(path.c_str());
    errno = saved;
}

bool WriteAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// The file the write really replaces: a symbolic link is followed so the link stays a link.
std::string WriteTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

// Writes text to a new file beside target and renames it over target.
bool ReplaceFile(const std::string& target, const std::string& text, const struct stat* existing) {
    const size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : target.substr(0, slash == 0 ? 1 : slash);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    const std::string prefix = (folder == "/" ? "/" : folder + "/") + "." + base + ".";

    std::string tempPath;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        tempPath =
            prefix + std::to_string(::getpid()) + "-" + std::to_string(g_tempCounter++) + ".tmp";
        fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    bool ok = existing == nullptr || ::fchmod(fd, existing->st_mode & 07777) == 0;
    ok = ok && WriteAll(fd, text) && ::fsync(fd) == 0;
    if (!ok) {
        CloseKeepingErrno(fd);
        UnlinkKeepingErrno(tempPath);
        SetLastErrorFromErrno();
        return false;
    }
    if (::close(fd) != 0 || ::rename(tempPath.c_str(), target.c_str()) != 0) {
        UnlinkKeepingErrno(tempPath);
        SetLastErrorFromErrno();
        return false;
    }
    return true;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastErrorFromErrno();
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        if (S_ISDIR(st.st_mode)) {
            errno = EISDIR;
        }
        CloseKeepingErrno(fd);
        SetLastErrorFromErrno();
        return std::nullopt;
    }
    std::string text;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            CloseKeepingErrno(fd);
            SetLastErrorFromErrno();
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        text.append(chunk, static_cast<size_t>(n));
    }
    ::close(fd);
    return text;
}

size_t IniProfile::GetString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, char* buf, size_t size,
                             const std::string& path) {
    const uint32_t saved = GetLastError();
    const std::optional<std::string> text = ReadWholeFile(path);
    // A read that falls back to the default is not a failure the caller should see.
    SetLastError(saved);
    return ProfileGetString(text, section, key, defaultValue, buf, size);
}

bool IniProfile::WriteString(const std::string& section, const std::string& key,
                             const std::string& value, const std::string& path) {
    const std::string target = WriteTarget(path);
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    std::optional<std::string> text;
    if (exists) {
        text = ReadWholeFile(target);
        if (!text) {
            return false;
        }
    } else if (errno != ENOENT) {
        SetLastErrorFromErrno();
        return false;
    }
    IniDocument document(text ? *text : std::string());
    if (!document.Set(section, key, value)) {
        SetLastError(FromErrno(EINVAL));
        return false;
    }
    return ReplaceFile(target, document.Serialize(), exists ? &st : nullptr);
}

}  // namespace zuvo::platform::posix
