#include "platform/posix/rtty_client_posix.h"

#include <endian.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/posix/rtty_channel_posix.h"

namespace zuvo::platform::posix {

namespace {
constexpr char kNotRunning[] = "no Zuvo Box interface program is running";

bool ProcessAlive(uint32_t pid) {
    return pid != 0 && (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}
}  // namespace

PosixRttyTransport::PosixRttyTransport(std::string blockName, std::string socketPath)
    : blockName_(blockName.empty() ? RttyBlockName() : std::move(blockName)),
      socketPath_(std::move(socketPath)) {}

PosixRttyTransport::~PosixRttyTransport() {
    Close();
}

void PosixRttyTransport::Close() {
    if (map_ != nullptr) {
        munmap(const_cast<uint8_t*>(map_), kRttyBlockSize);
        map_ = nullptr;
    }
    if (socket_ >= 0) {
        close(socket_);
        socket_ = -1;
    }
}

bool PosixRttyTransport::Open(std::string& error) {
    Close();
    const int fd = shm_open(blockName_.c_str(), O_RDONLY | O_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string(kNotRunning) + " (no shared block \"" + blockName_ +
                "\": " + std::strerror(errno) + ")";
        return false;
    }
    void* map = mmap(nullptr, kRttyBlockSize, PROT_READ, MAP_SHARED, fd, 0);
    const int mapErrno = errno;
    close(fd);
    if (map == MAP_FAILED) {
        error = std::string("cannot map the shared block \"") + blockName_ +
                "\": " + std::strerror(mapErrno);
        return false;
    }
    map_ = static_cast<const uint8_t*>(map);
    pid_ = Read32(kRttyOffsetTarget);
    if (Read32(kRttyOffsetMarker) != 1 || !ProcessAlive(pid_)) {
        error = std::string(kNotRunning) + " (the shared block was left by process " +
                std::to_string(pid_) + ", which has ended)";
        Close();
        return false;
    }
    if (socketPath_.empty()) {
        std::string why;
        socketPath_ = RttySocketPath(&why);
        if (socketPath_.empty()) {
            error = "no folder for the RTTY message: " + why;
            Close();
            return false;
        }
    }
    socket_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (socket_ < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        Close();
        return false;
    }
    return true;
}

bool PosixRttyTransport::Send(uint32_t wParam, std::string& error) {
    if (socket_ < 0) {
        error = kNotRunning;
        return false;
    }
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath_.size() >= sizeof addr.sun_path) {
        error = "socket path too long: " + socketPath_;
        return false;
    }
    std::memcpy(addr.sun_path, socketPath_.c_str(), socketPath_.size() + 1);
    const uint32_t le = htole32(wParam);
    for (;;) {
        const ssize_t n = sendto(socket_, &le, sizeof le, 0,
                                 reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
        if (n == static_cast<ssize_t>(sizeof le)) {
            return true;
        }
        if (n < 0 && errno == EINTR) {
            continue;
        }
        // A full receive queue: the interface program is behind; wait for it.
        if (n < 0 && errno == EAGAIN && ProgramRunning()) {
            Pause();
            continue;
        }
        if (n < 0 && (errno == ENOENT || errno == ECONNREFUSED)) {
            error = std::string(kNotRunning) + " (nobody receives at \"" + socketPath_ + "\")";
        } else {
            error = std::string("sending the RTTY message: ") +
                    (n < 0 ? std::strerror(errno) : "short write");
        }
        return false;
    }
}

uint32_t PosixRttyTransport::Read32(size_t offset) const {
    if (map_ == nullptr) {
        return 0;
    }
    return le32toh(
        __atomic_load_n(reinterpret_cast<const uint32_t*>(map_ + offset), __ATOMIC_ACQUIRE));
}

uint32_t PosixRttyTransport::ReadCounter(int station) const {
    if (station < 1 || station > 4) {
        return 0;
    }
    return Read32(RttyCounterOffset(station));
}

bool PosixRttyTransport::ProgramRunning() const {
    return map_ != nullptr && ProcessAlive(pid_);
}

void PosixRttyTransport::Pause() {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

}  // namespace zuvo::platform::posix
