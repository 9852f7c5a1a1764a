#pragma once

#include <condition_variable>
#include <cstdint>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"
#include "sim/sim_box.h"
#include "sim/sim_clock.h"
#include "sim/sim_commands.h"

namespace zuvo::sim {

inline constexpr const char* kSimBoxPath = "/dev/zuvobox-sim0";

// What the host sees of one simulated HID interface. For a box, the product ID and the
// report size come from the box itself (SimBox::SetUsbIdentity) and the version number from
// its firmware version; the fields here count for devices of another identity.
struct SimDeviceInfo {
    std::string path;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
    size_t reportSize = 3;  // output report length, report ID included
};

// The simulated box behind the HID interface, so that the link code cannot tell it from a
// USB device. The first box ("/dev/zuvobox-sim0", 0x16C0/0x065E, 3-byte reports) exists
// from construction; tests may add more boxes or devices of another identity.
//
// Thread-safe: one lock guards every box. A driver thread sleeps until the boxes' next
// timed event (never spinning) and wakes at that very moment, as a device answers in the
// USB frame it is due in; it lets the boxes advance, posts arrivals, and wakes readers. A
// change from outside is served on the thread that made it, like a device that answers a
// report without a second party being woken.
// The controls (Unplug, SetSwitches, ...) may be called from any thread.
class SimHidSystem final : public platform::IHidSystem, public ISimControls {
  public:
    struct Options {
        // Clock of the boxes; nullptr: real time from construction on.
        const IClock* clock = nullptr;
        // false: no driver thread; the test calls Service() after moving a virtual clock.
        bool driverThread = true;
    };

    SimHidSystem();
    explicit SimHidSystem(Options options);
    ~SimHidSystem() override;  // stops and joins the driver thread

    // --- IHidSystem ---
    std::vector<std::string> EnumerateInterfaces() override;
    std::unique_ptr<platform::IHidHandle> Open(const std::string& path,
                                               platform::HidAccess access) override;
    bool RegisterDeviceNotifications(platform::IMessagePoster& poster) override;

    // --- ISimControls, on the first box ---
    void Unplug() override;
    void Replug() override;
    void SetSwitches(uint8_t switches) override;
    void SetPot(uint8_t wpm) override;
    void PressPaddle() override;
    void SetReplyDelayMs(int ms) override;
    void SetVersion(uint8_t major, uint8_t minor, uint8_t patch, uint8_t special) override;

    // Runs fn on box `index` (0: the first) under the lock, then posts arrivals/removals
    // it caused and wakes readers and the driver. fn must not call back into this object.
    void WithBox(const std::function<void(SimBox&)>& fn, size_t index = 0);

    // Adds another box (index returned for WithBox) at the end of the enumeration order.
    size_t AddBox(const std::string& path);
    // Adds a HID device of another identity: enumerable and openable, never reports.
    void AddOtherDevice(SimDeviceInfo info);
    // Takes a device of another identity away or brings it back (with notifications).
    void SetOtherDevicePresent(const std::string& path, bool present);
    // Changes what the host sees of device `index` (enumeration order). Takes effect for
    // later enumerations, opens and attribute reads.
    void SetDeviceInfo(size_t index, const SimDeviceInfo& info);
    SimDeviceInfo DeviceInfo(size_t index);

    // Transcript of every box (see SimBox). The stream must outlive its use; the path form
    // owns its file. False when the file cannot be opened.
    void SetTranscript(std::ostream* out);
    bool SetTranscript(const std::string& path);

    // Manual mode: advance the boxes to the clock's now, post arrivals, wake readers.
    void Service();

    int64_t NowMs() const { return clock_->NowMs(); }

    // How often the driver thread has woken from its sleep so far.
    uint64_t DriverWakeups() const;

  private:
    friend class SimHidHandle;
    struct Device {
        SimDeviceInfo info;
        std::unique_ptr<SimBox> box;  // nullptr: a device of another identity
        bool otherPresent = true;
        bool present = true;      // as last seen by the host
        uint64_t generation = 0;  // counts removals: handles of an older one are dead
        int readHandles = 0;
    };

    Device* FindLocked(const std::string& path);
    bool PresentLocked(const Device& device) const;
    // Notices arrivals and removals, posts them, and kills the handles of removed devices.
    // True when something changed.
    bool SyncPresenceLocked();
    // After a change from outside (a write, a control): serves it on the calling thread and
    // wakes the driver only when its next timed event came forward.
    void AfterChange(std::unique_lock<std::mutex>& lock);
    // Advances the boxes to now and posts presence changes. True when readers have something
    // to see: a report due, or a device gone.
    bool ServiceLocked();
    // The earliest timed event of any box after now (box time), -1 for none.
    int64_t NextTimedEventLocked(int64_t now) const;
    void DriverLoop();

    std::unique_ptr<IClock> ownClock_;
    const IClock* clock_;
    mutable std::mutex mutex_;
    std::condition_variable readable_;  // readers: report ready, wake, or device gone
    std::condition_variable driverWake_;
    bool driverKick_ = false;
    int64_t driverDeadlineMs_ = -1;  // the box time the driver sleeps until; -1: none
    uint64_t driverWakeups_ = 0;
    bool stop_ = false;
    std::vector<std::unique_ptr<Device>> devices_;
    platform::IMessagePoster* poster_ = nullptr;
    std::ostream* transcript_ = nullptr;
    std::ofstream transcriptFile_;
    std::thread driver_;
};

}  // namespace zuvo::sim
