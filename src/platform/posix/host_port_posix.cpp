#include "platform/posix/host_port_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/errno_map.h"
#include "platform/posix/runtime_dir.h"

namespace zuvo::platform::posix {

namespace {

constexpr int kClientRecheckMs = 200;
constexpr int kModemSampleMs = 10;

void SetError(int err) {
    SetLastError(ErrorFromErrno(err));
}

// Puts a terminal into raw mode at the speed it already has.
bool MakeRaw(int fd) {
    termios t{};
    if (tcgetattr(fd, &t) != 0) {
        return false;
    }
    const speed_t in = cfgetispeed(&t);
    const speed_t out = cfgetospeed(&t);
    cfmakeraw(&t);
    cfsetispeed(&t, in);
    cfsetospeed(&t, out);
    t.c_cflag |= CLOCAL | CREAD;
    return tcsetattr(fd, TCSANOW, &t) == 0;
}

// True when the eventfd has been signalled (never consumed: a wake is for good).
bool Woken(int wakeFd) {
    pollfd p{wakeFd, POLLIN, 0};
    return poll(&p, 1, 0) > 0 && (p.revents & POLLIN) != 0;
}

// The descriptor is non-blocking: what does not fit now is dropped (kErrorNoRoom).
bool WriteNow(int fd, const uint8_t* data, size_t length) {
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::write(fd, data + done, length - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && errno != EAGAIN) {
            SetError(errno);
            return false;
        } else {
            SetLastError(kErrorNoRoom);
            return false;
        }
    }
    return true;
}

class FdHandleBase : public IHostPortHandle {
  public:
    ~FdHandleBase() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (wake_ >= 0) {
            ::close(wake_);
        }
    }

    void Wake() override {
        const uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wake_, &one, sizeof one);
    }

    bool Write(const uint8_t* data, size_t length) override { return WriteNow(fd_, data, length); }

  protected:
    bool InitWake() {
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        return wake_ >= 0;
    }

    // Waits for input on fd_ (or the wake). kReady with revents of fd_.
    PortStatus WaitInput(short& revents, int timeoutMs) {
        for (;;) {
            pollfd p[2] = {{fd_, POLLIN, 0}, {wake_, POLLIN, 0}};
            const int r = poll(p, 2, timeoutMs);
            if (r < 0) {
                if (errno == EINTR) {
                    continue;
                }
                SetError(errno);
                return PortStatus::kError;
            }
            if (p[1].revents != 0) {
                return PortStatus::kWoken;
            }
            revents = p[0].revents;
            return PortStatus::kReady;
        }
    }

    int fd_ = -1;
    int wake_ = -1;
};

// The pipe server: a pty master. The slave is opened and closed once at creation so that
// "no client" always shows as POLLHUP on the master; a client opening the slave clears it.
class PtyServer final : public FdHandleBase {
  public:
    ~PtyServer() override {
        if (!link_.empty()) {
            // Only remove the link while it is still ours (a later server may own it).
            char target[256] = {};
            const ssize_t n = readlink(link_.c_str(), target, sizeof target - 1);
            if (n > 0 && slave_ == std::string(target, static_cast<size_t>(n))) {
                ::unlink(link_.c_str());
            }
        }
        if (inotify_ >= 0) {
            ::close(inotify_);
        }
    }

    bool Create(const std::string& folder, const std::string& name) {
        fd_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0 || grantpt(fd_) != 0 || unlockpt(fd_) != 0) {
            SetError(errno);
            return false;
        }
        char slave[128] = {};
        if (ptsname_r(fd_, slave, sizeof slave) != 0) {
            SetError(errno);
            return false;
        }
        slave_ = slave;
        // Raw before any client: the default is cooked with echo, which would bounce every
        // command back to the logger and turn CR into LF.
        if (!MakeRaw(fd_)) {
            SetError(errno);
            return false;
        }
        // Open and close the slave once, so that "no client" always reads as POLLHUP on the
        // master (before a first open the master shows nothing). No TIOCEXCL: on a pty slave
        // it would refuse every non-root client, the first included; loggers lock the port
        // themselves (flock), which keeps a second one out.
        const int s = ::open(slave, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s < 0) {
            SetError(errno);
            return false;
        }
        ::close(s);
        inotify_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (inotify_ >= 0 && inotify_add_watch(inotify_, slave, IN_OPEN) < 0) {
            ::close(inotify_);
            inotify_ = -1;  // the bounded re-check alone still finds the client
        }
        if (!InitWake()) {
            SetError(errno);
            return false;
        }
        // The link is replaced atomically so a logger never finds it missing.
        const std::string link = folder + "/" + name;
        const std::string temp = link + ".new" + std::to_string(getpid());
        ::unlink(temp.c_str());
        if (symlink(slave, temp.c_str()) != 0) {
            SetError(errno);
            return false;
        }
        if (rename(temp.c_str(), link.c_str()) != 0) {
            const int err = errno;
            ::unlink(temp.c_str());
            SetError(err);
            return false;
        }
        link_ = link;
        return true;
    }

    PortStatus WaitForClient() override {
        for (;;) {
            if (Woken(wake_)) {
                return PortStatus::kWoken;
            }
            pollfd m{fd_, 0, 0};
            if (poll(&m, 1, 0) >= 0 && (m.revents & POLLHUP) == 0) {
                DiscardStaleOutput();
                Drain();
                return PortStatus::kReady;
            }
            // The master's POLLHUP is level-triggered: wait on the open notification (or
            // the bounded re-check), never on the master itself.
            pollfd p[2] = {{wake_, POLLIN, 0}, {inotify_, POLLIN, 0}};
            const int r = poll(p, inotify_ >= 0 ? 2 : 1, kClientRecheckMs);
            if (r < 0 && errno != EINTR) {
                SetError(errno);
                return PortStatus::kError;
            }
            Drain();
        }
    }

    PortReadResult Read(uint8_t* buf, size_t size) override {
        for (;;) {
            short revents = 0;
            const PortStatus st = WaitInput(revents, -1);
            if (st != PortStatus::kReady) {
                return {st, 0};
            }
            if (revents & (POLLIN | POLLHUP | POLLERR)) {
                // Data the client wrote just before closing is still read first.
                const ssize_t n = ::read(fd_, buf, size);
                if (n > 0) {
                    return {PortStatus::kReady, static_cast<size_t>(n)};
                }
                if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                    continue;
                }
                ClientLost();
                return {PortStatus::kError, 0};
            }
        }
    }

    PortStatus WaitCommEvent(uint32_t&) override {
        SetError(ENOTTY);
        return PortStatus::kError;
    }
    bool InputQueueCount(size_t&) override {
        SetError(ENOTTY);
        return false;
    }
    bool GetModemStatus(uint32_t&) override {
        SetError(ENOTTY);
        return false;
    }

  private:
    // Whatever was written while nobody listened is not for this client. Flushing through
    // the master only empties the buffers not yet handed to the slave's line discipline,
    // so the slave's input is flushed from a short-lived slave descriptor.
    void DiscardStaleOutput() {
        tcflush(fd_, TCOFLUSH);
        int s = ioctl(fd_, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (s < 0) {
            s = ::open(slave_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        }
        if (s >= 0) {
            tcflush(s, TCIFLUSH);
            ::close(s);
        }
    }

    void ClientLost() {
        // Replies the client did not read stay in the slave's queue after its close; they
        // are not for the next client.
        DiscardStaleOutput();
        // The client may have left the line in its own settings; the next one starts raw.
        MakeRaw(fd_);
        SetLastError(kErrorBrokenPipe);
    }

    void Drain() {
        if (inotify_ < 0) {
            return;
        }
        char events[1024];
        while (::read(inotify_, events, sizeof events) > 0) {
        }
    }

    std::string slave_;
    std::string link_;
    int inotify_ = -1;
};

class SerialDevice final : public FdHandleBase {
  public:
    bool Open(const std::string& path) {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0) {
            SetError(errno);
            return false;
        }
        // TIOCEXCL keeps out other openers (except root); the lock is what serial programs
        // check among themselves, root or not.
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            SetError(errno == EWOULDBLOCK ? EBUSY : errno);
            return false;
        }
        if (ioctl(fd_, TIOCEXCL) != 0 || !MakeRaw(fd_)) {
            SetError(errno);
            return false;
        }
        int lines = 0;
        modemLines_ = ioctl(fd_, TIOCMGET, &lines) == 0;
        lastLines_ = lines;
        if (!InitWake()) {
            SetError(errno);
            return false;
        }
        return true;
    }

    PortStatus WaitForClient() override { return PortStatus::kReady; }

    PortReadResult Read(uint8_t* buf, size_t size) override {
        for (;;) {
            short revents = 0;
            const PortStatus st = WaitInput(revents, -1);
            if (st != PortStatus::kReady) {
                return {st, 0};
            }
            const ssize_t n = ::read(fd_, buf, size);
            if (n > 0) {
                return {PortStatus::kReady, static_cast<size_t>(n)};
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
            SetError(n == 0 ? EIO : errno);
            return {PortStatus::kError, 0};
        }
    }

    PortStatus WaitCommEvent(uint32_t& mask) override {
        mask = 0;
        for (;;) {
            short revents = 0;
            const PortStatus st = WaitInput(revents, modemLines_ ? kModemSampleMs : -1);
            if (st != PortStatus::kReady) {
                return st;
            }
            if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
                SetError(EIO);
                return PortStatus::kError;
            }
            if (revents & POLLIN) {
                mask |= kCommEventRxChar;
            }
            if (modemLines_) {
                int lines = 0;
                if (ioctl(fd_, TIOCMGET, &lines) == 0) {
                    const int changed = lines ^ lastLines_;
                    lastLines_ = lines;
                    if (changed & TIOCM_CTS) {
                        mask |= kCommEventCts;
                    }
                    if (changed & TIOCM_DSR) {
                        mask |= kCommEventDsr;
                    }
                }
            }
            if (mask != 0) {
                return PortStatus::kReady;
            }
        }
    }

    bool InputQueueCount(size_t& count) override {
        int n = 0;
        if (ioctl(fd_, FIONREAD, &n) != 0) {
            SetError(errno);
            return false;
        }
        count = static_cast<size_t>(n);
        return true;
    }

    bool GetModemStatus(uint32_t& status) override {
        int lines = 0;
        if (ioctl(fd_, TIOCMGET, &lines) != 0) {
            SetError(errno);
            return false;
        }
        status = 0;
        if (lines & TIOCM_CTS) {
            status |= kModemCtsOn;
        }
        if (lines & TIOCM_DSR) {
            status |= kModemDsrOn;
        }
        if (lines & TIOCM_RNG) {
            status |= kModemRingOn;
        }
        if (lines & TIOCM_CAR) {
            status |= kModemRlsdOn;
        }
        return true;
    }

  private:
    bool modemLines_ = false;
    int lastLines_ = 0;
};

}  // namespace

void RemoveStalePipeLinks(const std::string& folder) {
    const std::string dir = folder.empty() ? RuntimeDir() : folder;
    if (dir.empty()) {
        return;
    }
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) {
        return;
    }
    // Links only (the lock file and the RTTY socket may share the folder); a half-made
    // "<name>.new<pid>" link of an interrupted replacement goes too.
    while (const dirent* entry = readdir(d)) {
        struct stat st {};
        if (fstatat(dirfd(d), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISLNK(st.st_mode)) {
            unlinkat(dirfd(d), entry->d_name, 0);
        }
    }
    closedir(d);
}

std::unique_ptr<IHostPortHandle> PosixHostPortSystem::CreatePipeServer(const std::string& name) {
    std::string folder = folder_;
    if (folder.empty()) {
        folder = RuntimeDir();
        if (folder.empty()) {
            return nullptr;  // RuntimeDir set the last error
        }
    }
    auto server = std::make_unique<PtyServer>();
    if (!server->Create(folder, name)) {
        return nullptr;
    }
    return server;
}

std::unique_ptr<IHostPortHandle> PosixHostPortSystem::OpenSerialDevice(const std::string& path) {
    auto device = std::make_unique<SerialDevice>();
    if (!device->Open(path)) {
        return nullptr;
    }
    return device;
}

std::string PosixHostPortSystem::ComDeviceName(int number) const {
    return "/dev/ttyS" + std::to_string(number - 1);
}

}  // namespace zuvo::platform::posix
