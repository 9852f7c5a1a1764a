#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/hid.h"
#include "platform/message_queue.h"

namespace zuvo {

// Either program's line when the box's device is held by another program, of any user: each
// program holds the box exclusively while connected, so two never drive it at once.
inline constexpr const char* kBoxInUseText = "Zuvo Box is in use by another program";

// The last 65-byte report read in the boot loader's mode; written by the device read
// thread just before it posts, read by the main thread when it handles the post.
class LastBootReport {
  public:
    void Store(const uint8_t* data, size_t length);
    std::array<uint8_t, 65> Load() const;

  private:
    mutable std::mutex mutex_;
    std::array<uint8_t, 65> data_{};
};

// What both programs' links share: the handles, the connected flag, the device read thread
// and the report write. The interface program's BoxLink and the utility's link add their
// own search, open, refusal and disconnect steps around it.
class DeviceLinkCore {
  public:
    DeviceLinkCore(platform::IHidSystem& hid, platform::IMessagePoster& poster);
    ~DeviceLinkCore();
    DeviceLinkCore(const DeviceLinkCore&) = delete;
    DeviceLinkCore& operator=(const DeviceLinkCore&) = delete;

    platform::IHidSystem& Hid() { return hid_; }

    // Read by the device read thread to know when to stop.
    bool Connected() const { return connected_.load(); }
    void SetConnected(bool on) { connected_.store(on); }

    const std::string& DevicePath() const { return devicePath_; }
    void SetDevicePath(std::string path) { devicePath_ = std::move(path); }

    // Handles the main thread holds while connected.
    std::unique_ptr<platform::IHidHandle> device;
    std::unique_ptr<platform::IHidHandle> write;

    // Writes one report. With no write handle the report counts as written (true). False
    // with the last error set when the write failed.
    bool WriteReport(const uint8_t* data, size_t length);

    // Starts the device read thread on the read handle, which the thread owns from now on.
    // While wideReports is set (the utility's boot-loader mode) it reads 65-byte reports and
    // stores each in lastReport before posting.
    void StartReadThread(std::unique_ptr<platform::IHidHandle> read,
                         const std::atomic<bool>* wideReports = nullptr,
                         LastBootReport* lastReport = nullptr);

    // Wakes the device read thread and waits until it has ended and closed its handle; the
    // connected flag must be clear. A reconnect therefore never races an old thread.
    void StopReadThread();

    // Closes the device and write handles and stops the read thread.
    void CloseHandles();

    // Identifies the connection that posted a report message (Message::source), so that a
    // late error from an earlier connection is not taken for the current one.
    uint32_t Generation() const { return generation_; }

  private:
    void ReadLoop(platform::IHidHandle* read, uint32_t generation,
                  const std::atomic<bool>* wideReports, LastBootReport* lastReport);

    platform::IHidSystem& hid_;
    platform::IMessagePoster& poster_;
    std::atomic<bool> connected_{false};
    std::atomic<bool> stopRequested_{false};
    std::string devicePath_;
    std::unique_ptr<platform::IHidHandle> read_;
    std::thread readThread_;
    uint32_t generation_ = 0;
};

}  // namespace zuvo
