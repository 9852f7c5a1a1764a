#pragma once

// A logger's end of one of the program's ptys, opened through its link the way serial
// programs open a port: raw, and locked.

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

namespace zuvo::test {

// Waits until path exists (false after 5 s).
inline bool WaitForPath(const std::string& path) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class PtyClient {
  public:
    explicit PtyClient(const std::string& link) {
        if (!WaitForPath(link)) {
            return;
        }
        fd_ = open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd_ < 0 || flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            return;
        }
        termios t{};
        tcgetattr(fd_, &t);
        cfmakeraw(&t);
        ok_ = tcsetattr(fd_, TCSANOW, &t) == 0;
    }
    ~PtyClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    PtyClient(const PtyClient&) = delete;
    PtyClient& operator=(const PtyClient&) = delete;

    bool Ok() const { return ok_; }

    // Writes all of bytes, waiting for room as a blocking client would; false when not all
    // went out within the time limit.
    bool Write(const std::string& bytes,
               std::chrono::milliseconds limit = std::chrono::seconds(5)) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
                continue;
            }
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            pollfd p{fd_, POLLOUT, 0};
            poll(&p, 1, 50);
        }
        return true;
    }

    // Reads until expected has arrived; everything read up to its end, or (after the time
    // limit) all that came.
    std::string ReadUntil(const std::string& expected,
                          std::chrono::milliseconds limit = std::chrono::seconds(5)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (got_.find(expected) == std::string::npos && std::chrono::steady_clock::now() < end) {
            ReadReady(50);
        }
        const size_t at = got_.find(expected);
        if (at == std::string::npos) {
            return std::move(got_);
        }
        std::string upTo = got_.substr(0, at + expected.size());
        got_.erase(0, at + expected.size());
        return upTo;
    }

    // Reads and discards until nothing more comes for quietMs; the bytes discarded.
    size_t Drain(int quietMs = 300) {
        size_t total = got_.size();
        got_.clear();
        while (ReadReady(quietMs)) {
            total += got_.size();
            got_.clear();
        }
        return total;
    }

  private:
    bool ReadReady(int timeoutMs) {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0 || (p.revents & POLLIN) == 0) {
            return false;
        }
        char buf[4096];
        const ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) {
            return false;
        }
        got_.append(buf, static_cast<size_t>(n));
        return true;
    }

    int fd_ = -1;
    bool ok_ = false;
    std::string got_;
};

}  // namespace zuvo::test
