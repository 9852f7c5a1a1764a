#pragma once

// A logger's end of the keyer pty, and what it reads back: echoes and WinKeyer status bytes.

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zuvo::test {

// The logger's end of the keyer pty, in raw mode.
class KeyerClient {
  public:
    explicit KeyerClient(const std::string& path) {
        fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (fd_ >= 0) {
            termios t{};
            tcgetattr(fd_, &t);
            cfmakeraw(&t);
            tcsetattr(fd_, TCSANOW, &t);
        }
    }
    ~KeyerClient() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    bool Ok() const { return fd_ >= 0; }

    void Write(const std::vector<uint8_t>& bytes) const {
        ASSERT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void Write(const std::string& text) const {
        Write(std::vector<uint8_t>(text.begin(), text.end()));
    }

    // Reads until `done` says so or the time is up; returns everything read.
    template <typename Done>
    std::vector<uint8_t> ReadUntil(Done done, std::chrono::milliseconds timeout) {
        const auto end = std::chrono::steady_clock::now() + timeout;
        while (!done(received_) && std::chrono::steady_clock::now() < end) {
            pollfd p{fd_, POLLIN, 0};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            if (poll(&p, 1, static_cast<int>(std::max<int64_t>(left.count(), 1))) <= 0) {
                continue;
            }
            uint8_t buf[256];
            const ssize_t n = read(fd_, buf, sizeof buf);
            if (n > 0) {
                received_.insert(received_.end(), buf, buf + n);
            }
        }
        return received_;
    }
    void Forget() { received_.clear(); }

  private:
    int fd_ = -1;
    std::vector<uint8_t> received_;
};

inline bool IsStatus(uint8_t b) {
    return (b & 0xC0) == 0xC0;
}

inline std::string Echoes(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (uint8_t b : bytes) {
        if (!IsStatus(b)) {
            text += static_cast<char>(b);
        }
    }
    return text;
}

inline std::vector<uint8_t> Statuses(const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> out;
    for (uint8_t b : bytes) {
        if (IsStatus(b)) {
            out.push_back(b);
        }
    }
    return out;
}

}  // namespace zuvo::test
