#include "platform/posix/rtty_channel_posix.h"

#include <endian.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/runtime_dir.h"

namespace zuvo::platform::posix {

namespace {
constexpr size_t kMaxWaitingMessages = 256;
}  // namespace

std::string RttyBlockName() {
    const char* name = std::getenv("ZUVOBOX_RTTY_SHM");
    if (name != nullptr && name[0] == '/' && name[1] != '\0') {
        return name;
    }
    return std::string("/") + kRttyBlockName;
}

std::string RttySocketPath(std::string* error) {
    const std::string dir = LockDir(error);
    if (dir.empty()) {
        return {};
    }
    return dir + "/" + kRttyMessageName;
}

void RemoveStaleRttyObjects() {
    const std::string socketPath = RttySocketPath();
    struct stat st {};
    if (!socketPath.empty() && lstat(socketPath.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) {
        unlink(socketPath.c_str());
    }
    const std::string block = RttyBlockName();
    const int fd = shm_open(block.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        return;
    }
    // Nobody holds its lock: the program that made it has ended.
    if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && flock(fd, LOCK_EX | LOCK_NB) == 0) {
        shm_unlink(block.c_str());
    }
    close(fd);
}

// ---- shared block ----------------------------------------------------------------------

PosixRttySharedBlock::PosixRttySharedBlock(std::string name) : name_(std::move(name)) {}

PosixRttySharedBlock::~PosixRttySharedBlock() {
    if (map_ != nullptr) {
        shm_unlink(name_.c_str());
    }
    Close();
}

void PosixRttySharedBlock::Close() {
    if (map_ != nullptr) {
        munmap(map_, kRttyBlockSize);
        map_ = nullptr;
    }
    if (fd_ >= 0) {
        close(fd_);
        fd_ = -1;
    }
}

SharedBlockOpen PosixRttySharedBlock::CreateOrOpen() {
    Close();
    bool created = true;
    fd_ = shm_open(name_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd_ < 0 && errno == EEXIST) {
        created = false;
        fd_ = shm_open(name_.c_str(), O_RDWR | O_CLOEXEC, 0);
    }
    if (fd_ < 0) {
        SetLastErrorFromErrno();
        return SharedBlockOpen::kFailed;
    }
    auto fail = [&] {
        SetLastErrorFromErrno();
        Close();
        if (created) {
            shm_unlink(name_.c_str());
        }
        return SharedBlockOpen::kFailed;
    };
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            // A running interface program, maybe another user's, holds it.
            const SharedBlockOpen result = fail();
            SetLastError(kErrorSharingViolation);
            return result;
        }
        return fail();
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        return fail();
    }
    if (st.st_uid != geteuid()) {
        errno = EACCES;
        return fail();
    }
    if (fchmod(fd_, 0600) != 0 || (st.st_size < static_cast<off_t>(kRttyBlockSize) &&
                                   ftruncate(fd_, static_cast<off_t>(kRttyBlockSize)) != 0)) {
        return fail();
    }
    void* map = mmap(nullptr, kRttyBlockSize, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (map == MAP_FAILED) {
        return fail();
    }
    map_ = static_cast<uint8_t*>(map);
    if (created) {
        return SharedBlockOpen::kCreated;
    }
    // Nobody holds the lock, so no interface program is using the block. One whose process
    // has ended left it behind: take it over as new.
    const uint32_t pid = Read32(kRttyOffsetTarget);
    if (pid == 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)) {
        return SharedBlockOpen::kCreated;
    }
    return SharedBlockOpen::kOpened;
}

void PosixRttySharedBlock::Write32(size_t offset, uint32_t value) {
    if (map_ == nullptr || offset % 4 != 0 || offset + 4 > kRttyBlockSize) {
        return;
    }
    // Aligned and atomic: an RTTY program reads the counters while they change.
    __atomic_store_n(reinterpret_cast<uint32_t*>(map_ + offset), htole32(value), __ATOMIC_RELEASE);
}

uint32_t PosixRttySharedBlock::Read32(size_t offset) const {
    if (map_ == nullptr || offset % 4 != 0 || offset + 4 > kRttyBlockSize) {
        return 0;
    }
    return le32toh(
        __atomic_load_n(reinterpret_cast<const uint32_t*>(map_ + offset), __ATOMIC_ACQUIRE));
}

// ---- message receiver ------------------------------------------------------------------

PosixRttyMessageReceiver::PosixRttyMessageReceiver(std::string path) : path_(std::move(path)) {}

PosixRttyMessageReceiver::~PosixRttyMessageReceiver() {
    if (thread_.joinable()) {
        poster_->StopFlow(flow_);
        const uint64_t one = 1;
        if (write(stopEvent_, &one, sizeof one) < 0) {
            // Cannot happen with a counter far from overflow; the join below would hang, so
            // shut the socket down instead, which wakes the poll as well.
            shutdown(socket_, SHUT_RDWR);
        }
        thread_.join();
    }
    if (bound_) {
        unlink(path_.c_str());
    }
    if (socket_ >= 0) {
        close(socket_);
    }
    if (stopEvent_ >= 0) {
        close(stopEvent_);
    }
}

uint32_t PosixRttyMessageReceiver::Target() const {
    return static_cast<uint32_t>(getpid());
}

bool PosixRttyMessageReceiver::Register(IMessagePoster& poster) {
    if (socket_ >= 0) {
        SetLastError(kErrorAlreadyExists);
        return false;
    }
    if (path_.empty()) {
        path_ = RttySocketPath();
        if (path_.empty()) {
            return false;
        }
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path_.size() >= sizeof addr.sun_path) {
        SetLastError(FromErrno(ENAMETOOLONG));
        return false;
    }
    std::memcpy(addr.sun_path, path_.c_str(), path_.size() + 1);
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    stopEvent_ = eventfd(0, EFD_CLOEXEC);
    if (socket_ < 0 || stopEvent_ < 0) {
        SetLastErrorFromErrno();
        return false;
    }
    // A socket file left by a program that died would make bind fail. Its folder holds the
    // single-instance lock too, so no live interface program uses this path.
    unlink(path_.c_str());
    if (bind(socket_, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        SetLastErrorFromErrno();
        return false;
    }
    bound_ = true;
    chmod(path_.c_str(), 0600);
    poster_ = &poster;
    flow_ = poster.AddFlow(kMaxWaitingMessages);
    thread_ = std::thread([this, &poster] { ReadLoop(poster); });
    return true;
}

void PosixRttyMessageReceiver::ReadLoop(IMessagePoster& poster) {
    bool badSizeReported = false;
    for (;;) {
        // A program sending without end waits in the socket's buffer, not in our memory.
        if (poster.WaitForRoom(flow_) == 0) {
            return;
        }
        pollfd fds[2] = {{stopEvent_, POLLIN, 0}, {socket_, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {  // the stop event: the program is closing
            return;
        }
        if ((fds[1].revents & (POLLERR | POLLNVAL | POLLHUP)) != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) == 0) {
            continue;
        }
        uint8_t buf[16];
        // MSG_TRUNC gives a datagram's real length, so an oversized one is seen as such.
        const ssize_t n = recv(socket_, buf, sizeof buf, MSG_TRUNC | MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return;
        }
        if (n != 4 && n != 8) {
            if (!badSizeReported) {
                badSizeReported = true;
                Message note;
                note.id = kMsgRtty;
                note.text = "RE - ignored a message of " + std::to_string(n) +
                            " bytes (4 or 8 expected); further ones are not logged";
                note.flow = flow_;
                poster.Post(std::move(note));
            }
            continue;
        }
        uint32_t words[2] = {0, 0};
        std::memcpy(words, buf, static_cast<size_t>(n));
        Message message;
        message.id = kMsgRtty;
        message.wParam = le32toh(words[0]);
        message.lParam = static_cast<int32_t>(le32toh(words[1]));
        message.flow = flow_;
        poster.Post(std::move(message));
    }
}

}  // namespace zuvo::platform::posix
