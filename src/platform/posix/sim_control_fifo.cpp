#include "platform/posix/sim_control_fifo.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zuvo::platform::posix {

namespace {
std::string Failure(const char* step, int err) {
    return std::string(step) + std::strerror(err);
}
}  // namespace

SimControlFifo::~SimControlFifo() {
    Stop();
}

bool SimControlFifo::Start(const std::string& path, LineHandler handler, std::string& error) {
    Stop();
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISFIFO(st.st_mode)) {
            error = "Cannot create control FIFO " + path + ": the path exists and is not a FIFO";
            return false;
        }
        ::unlink(path.c_str());  // left over from an earlier run
    }
    if (::mkfifo(path.c_str(), 0600) != 0) {
        error = Failure(("mkfifo " + path + ": ").c_str(), errno);
        return false;
    }
    // O_RDWR keeps a writer open ourselves: the FIFO never reaches end of file, so poll does
    // not report POLLHUP over and over between two writers.
    const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        error = Failure(("open " + path + ": ").c_str(), errno);
        ::unlink(path.c_str());
        return false;
    }
    // Someone could have swapped the path between mkfifo and open.
    if (::fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode) || st.st_uid != ::geteuid()) {
        error = "Cannot use control FIFO " + path + ": not the FIFO just created";
        ::close(fd);
        return false;
    }
    const int stopFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd < 0) {
        error = Failure("eventfd: ", errno);
        ::close(fd);
        ::unlink(path.c_str());
        return false;
    }
    path_ = path;
    handler_ = std::move(handler);
    fd_ = fd;
    stopFd_ = stopFd;
    thread_ = std::thread(&SimControlFifo::ReadLoop, this);
    return true;
}

void SimControlFifo::Stop() {
    if (thread_.joinable()) {
        const uint64_t one = 1;
        while (::write(stopFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        thread_.join();
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
        ::unlink(path_.c_str());
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
        stopFd_ = -1;
    }
}

void SimControlFifo::ReadLoop() {
    std::string line;
    bool overlong = false;
    char buf[512];
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
        const int n = ::poll(fds, 2, -1);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {  // stop requested
            return;
        }
        if ((fds[1].revents & (POLLERR | POLLNVAL)) != 0) {
            return;
        }
        if ((fds[1].revents & POLLIN) == 0) {
            continue;
        }
        const ssize_t got = ::read(fd_, buf, sizeof buf);
        if (got < 0) {
            if (errno == EINTR || errno == EAGAIN) {
                continue;
            }
            return;
        }
        for (ssize_t i = 0; i < got; ++i) {
            const char c = buf[i];
            if (c != '\n') {
                if (line.size() < kMaxLine) {
                    line.push_back(c);
                } else {
                    overlong = true;
                }
                continue;
            }
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (!overlong && handler_) {
                handler_(line);
            }
            line.clear();
            overlong = false;
        }
    }
}

}  // namespace zuvo::platform::posix
