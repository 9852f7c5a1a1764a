#pragma once

// An emulated kernel for the Linux HID backend, built on umockdev: a USB bus in sysfs with
// its udev properties, uevents for udev monitors, and /dev/hidrawN nodes whose open, ioctl,
// read, write and poll are served here the way the hidraw driver serves them. The simulated
// box plays the device behind its node; other devices only enumerate and take writes.
//
// The programs under test must run under umockdev's preload library (this process too, for
// the in-process tests; see main.cpp) with UMOCKDEV_DIR, which the testbed sets.
//
// Each node is a symlink to a pty: the pty only gives poll() its readiness (one byte per
// queued report, hung up when the device goes); every read, write and ioctl on the node is
// answered here, so reports keep their boundaries as hidraw keeps them.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"
#include "platform/message_queue.h"
#include "sim/sim_hid.h"

struct _UMockdevTestbed;
struct _UMockdevIoctlBase;
struct _UMockdevIoctlClient;

namespace zuvo::test {

// What the kernel shows of one HID device.
struct HidDevice {
    enum class Bus {
        kUsb,        // usb_device > usb_interface > hid > hidraw; identity in the USB device
        kBluetooth,  // hid > hidraw; identity only in the hid device's HID_ID
        kPlatform,   // a parent without any identity: only the node's HIDIOCGRAWINFO has it
    };
    Bus bus = Bus::kUsb;
    // Place on the bus ("1-3"). It names the sysfs path, which sets the enumeration order.
    std::string port;
    // hidraw number. Kept high: a removed mock node falls through to the host's real one.
    int node = 200;
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t bcdDevice = 0;
    std::string manufacturer;
    std::string product;
    // false: the node keeps an ordinary user out, as it is without the udev rule.
    bool accessible = true;
};

class HidrawTestbed {
  public:
    // The emulated kernel, with the simulated box plugged in on boxPort as hidraw boxNode.
    // The box's presence is followed from then on: its restart into the boot loader appears
    // as the removal of the box and the arrival of a USB device 16c0:065f, and back.
    explicit HidrawTestbed(std::string boxPort = "1-3", int boxNode = 210);
    ~HidrawTestbed();
    HidrawTestbed(const HidrawTestbed&) = delete;
    HidrawTestbed& operator=(const HidrawTestbed&) = delete;

    // Empty when this process runs under umockdev's preload library, else why it does not.
    static std::string Unavailable();

    sim::SimHidSystem& Sim() { return sim_; }
    // The box's node ("/dev/hidraw210").
    std::string BoxNode() const;

    // Plugs in a device that enumerates, opens and takes writes, but never reports. Returns
    // its node.
    std::string Plug(const HidDevice& device);
    // Takes a device away as the kernel does: readers hung up, then "remove" uevents and the
    // sysfs devices, children before parents.
    void Unplug(const std::string& node);

    // The box's cable, through the simulator. Each returns once the bus shows the change.
    bool UnplugBox();
    bool ReplugBox();

    // Every write a device took, as it arrived at the device: without report ID 0.
    std::vector<std::vector<uint8_t>> Received(const std::string& node);
    // The simulated box's transcript so far ("<ms> host 0xcc 0xvv", "<ms> box ...").
    std::string Transcript();
    // Product IDs the box has shown on the bus, one per plug-in, in order.
    std::vector<uint16_t> BoxPlugHistory();

  private:
    struct Slot;

    void PlugLocked(const HidDevice& device, bool box);
    void UnplugLocked(const std::string& node);
    void PlugBoxFromSim();
    void PushReport(const std::vector<uint8_t>& payload);
    void DrainOwedTokens(Slot& slot);
    Slot* LiveSlotLocked(_UMockdevIoctlClient* client);
    void BusLoop();
    void PumpLoop();

    static void OnClientConnected(_UMockdevIoctlBase* handler, _UMockdevIoctlClient* client,
                                  void* self);
    static int OnIoctl(_UMockdevIoctlBase* handler, _UMockdevIoctlClient* client, void* self);
    static int OnRead(_UMockdevIoctlBase* handler, _UMockdevIoctlClient* client, void* self);
    static int OnWrite(_UMockdevIoctlBase* handler, _UMockdevIoctlClient* client, void* self);

    _UMockdevTestbed* testbed_ = nullptr;
    _UMockdevIoctlBase* handler_ = nullptr;
    std::string root_;
    std::string boxPort_;
    int boxNode_;

    std::ostringstream transcript_;     // written under the simulator's lock
    platform::MessageQueue simEvents_;  // the simulator's arrivals and removals
    sim::SimHidSystem sim_;

    std::mutex testbedMutex_;  // the testbed object and the sysfs tree
    std::mutex mutex_;         // everything below
    std::condition_variable changed_;
    std::map<std::string, std::unique_ptr<Slot>> slots_;  // by node path
    uint64_t generations_ = 0;
    std::vector<std::string> attached_;  // nodes with the ioctl handler
    std::shared_ptr<platform::IHidHandle> boxWriter_;
    std::unique_ptr<platform::IHidHandle> pendingReader_;  // handed to the pump at plug-in
    platform::IHidHandle* boxReader_ = nullptr;            // the pump's, for waking it
    std::vector<uint16_t> boxPlugs_;
    bool stop_ = false;

    std::thread bus_;
    std::thread pump_;
};

// Makes the calling process act as an ordinary user while it lives (when it runs as root),
// so that a node's permissions apply to it.
class AsOrdinaryUser {
  public:
    AsOrdinaryUser();
    ~AsOrdinaryUser();
    AsOrdinaryUser(const AsOrdinaryUser&) = delete;
    AsOrdinaryUser& operator=(const AsOrdinaryUser&) = delete;

  private:
    bool switched_ = false;
};

}  // namespace zuvo::test
