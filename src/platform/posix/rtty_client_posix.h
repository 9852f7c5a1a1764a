#pragma once

#include <cstdint>
#include <string>

#include "rtty/rtty_client.h"

namespace zuvo::platform::posix {

// An RTTY program's side of the bridge on Linux: maps the shared block read-only, checks that
// the process named at offset 0 still runs, and sends the message as a 4-byte datagram to
// the interface program's socket (RttySocketPath).
class PosixRttyTransport final : public IRttyTransport {
  public:
    // Empty arguments mean the standard block name and socket path.
    explicit PosixRttyTransport(std::string blockName = {}, std::string socketPath = {});
    ~PosixRttyTransport() override;
    PosixRttyTransport(const PosixRttyTransport&) = delete;
    PosixRttyTransport& operator=(const PosixRttyTransport&) = delete;

    bool Open(std::string& error) override;
    bool Send(uint32_t wParam, std::string& error) override;
    uint32_t ReadCounter(int station) const override;
    bool ProgramRunning() const override;
    void Pause() override;

    uint32_t ProgramId() const { return pid_; }

  private:
    uint32_t Read32(size_t offset) const;
    void Close();

    std::string blockName_;
    std::string socketPath_;
    const uint8_t* map_ = nullptr;
    int socket_ = -1;
    uint32_t pid_ = 0;
};

}  // namespace zuvo::platform::posix
