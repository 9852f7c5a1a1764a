#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

#include "platform/rtty_channel.h"

namespace zuvo::platform::posix {

// The block's name for shm_open: "/Zuvo Box Shared Memory". ZUVOBOX_RTTY_SHM names another
// block (one starting with "/"), so that several interface programs can run side by side
// under test without sharing one.
std::string RttyBlockName();
// The message socket: "Zuvo Box RTTY Message" in the per-user LockDir(), a short fixed path
// that always fits a socket address (the runtime folder may be too long for one). ""
// (error filled) when that folder cannot be used.
std::string RttySocketPath(std::string* error = nullptr);

// Removes the message socket (RttySocketPath()) and the shared block (RttyBlockName()) that a
// run of this user which did not end cleanly left behind; a block another user owns or a
// running program holds is left alone. Call it only while holding the single-instance lock.
void RemoveStaleRttyObjects();

// The shared block as a POSIX shared-memory object of 4096 bytes, mode 0600. The owner holds
// an exclusive flock on it for its life, which the kernel drops when the process ends:
// - a new block, or one nobody holds (its program has ended), is taken and reported as
//   kCreated, so a stale block left by a crash never blocks the next start;
// - a block another running interface program holds is left alone (kFailed): writing into
//   it would zero the counters an RTTY program of that program is pacing on.
// The destructor (a clean exit) removes the name; readers that have it mapped keep reading.
class PosixRttySharedBlock final : public IRttySharedBlock {
  public:
    explicit PosixRttySharedBlock(std::string name = RttyBlockName());
    ~PosixRttySharedBlock() override;
    PosixRttySharedBlock(const PosixRttySharedBlock&) = delete;
    PosixRttySharedBlock& operator=(const PosixRttySharedBlock&) = delete;

    SharedBlockOpen CreateOrOpen() override;
    bool IsOpen() const override { return map_ != nullptr; }
    void Write32(size_t offset, uint32_t value) override;
    uint32_t Read32(size_t offset) const override;

  private:
    void Close();

    std::string name_;
    int fd_ = -1;
    uint8_t* map_ = nullptr;
};

// The RTTY message as datagrams on a Unix socket. Each datagram holds wParam, or wParam and
// lParam, as 32-bit little-endian numbers (4 or 8 bytes). A read thread waits on the socket
// and an eventfd, posts each message, and drops datagrams of any other size (the first one
// is reported as a note). It stops reading while 256 of its messages wait for the main
// thread, so a sender that never stops is held back by the socket's buffer. The destructor
// stops and joins the thread and removes the socket.
class PosixRttyMessageReceiver final : public IRttyMessageReceiver {
  public:
    // path: the socket; empty means RttySocketPath().
    explicit PosixRttyMessageReceiver(std::string path = {});
    ~PosixRttyMessageReceiver() override;
    PosixRttyMessageReceiver(const PosixRttyMessageReceiver&) = delete;
    PosixRttyMessageReceiver& operator=(const PosixRttyMessageReceiver&) = delete;

    bool Register(IMessagePoster& poster) override;
    uint32_t Target() const override;
    const std::string& Path() const { return path_; }

  private:
    void ReadLoop(IMessagePoster& poster);

    std::string path_;
    IMessagePoster* poster_ = nullptr;
    uint32_t flow_ = 0;
    int socket_ = -1;
    int stopEvent_ = -1;
    bool bound_ = false;
    std::thread thread_;
};

}  // namespace zuvo::platform::posix
