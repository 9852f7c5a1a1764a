#pragma once

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace zuvo::platform::fake {

// In-memory HID devices for unit tests. Reports the test pushes are read by the device read
// thread; reports the logic writes are recorded. As on a real system, a second write handle
// of a device is refused while one lives. Thread-safe.
class FakeHidSystem final : public IHidSystem {
  public:
    struct Device {
        HidAttributes attributes;
        bool present = true;
        uint32_t openError[3] = {0, 0, 0};  // per HidAccess: non-zero makes Open fail
        uint32_t attributesError = 0;
        uint32_t writeError = 0;      // non-zero makes writes fail
        int writesBeforeUnplug = -1;  // >= 0: the device goes away after that many writes
    };

    // Adds (or replaces) a device at the end of the enumeration order.
    void AddDevice(const std::string& path, Device device);
    void SetPresent(const std::string& path, bool present);  // gone: reads fail with 1167
    Device& DeviceAt(const std::string& path);

    // Queues one input report (with its report ID byte) for the device's read handles.
    void PushReport(const std::string& path, std::vector<uint8_t> report);
    // Reports written to the device, report ID included, in order.
    std::vector<std::vector<uint8_t>> Written(const std::string& path);
    void ClearWritten(const std::string& path);
    int OpenReadHandles(const std::string& path);

    std::vector<std::string> EnumerateInterfaces() override;
    std::unique_ptr<IHidHandle> Open(const std::string& path, HidAccess access) override;
    bool RegisterDeviceNotifications(IMessagePoster& poster) override;
    IMessagePoster* NotificationPoster() const { return poster_; }

  private:
    friend class FakeHidHandle;
    struct State {
        Device device;
        std::deque<std::vector<uint8_t>> input;
        std::vector<std::vector<uint8_t>> written;
        int readHandles = 0;
        int writeHandles = 0;  // at most one: a write handle holds the device exclusively
    };
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> order_;
    std::map<std::string, State> devices_;
    IMessagePoster* poster_ = nullptr;
};

}  // namespace zuvo::platform::fake
