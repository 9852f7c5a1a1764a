#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/message_queue.h"

namespace zuvo::platform {

struct HidAttributes {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    uint16_t versionNumber = 0;
};

// How a handle is opened: attributes only (the identity check), write only, or read only.
enum class HidAccess { kAttributes, kWrite, kRead };

enum class HidReadStatus { kReport, kWoken, kError };

struct HidReadResult {
    HidReadStatus status = HidReadStatus::kError;
    size_t length = 0;  // bytes placed in the buffer for kReport, report ID included
};

// One open handle of one HID device interface.
class IHidHandle {
  public:
    virtual ~IHidHandle() = default;

    // Main thread. False with the last error set when the attributes cannot be read.
    virtual bool GetAttributes(HidAttributes& out) = 0;

    // Main thread, write handles. Writes one whole output report synchronously; data[0] is
    // the report ID (0). False with the last error set when the write failed.
    virtual bool Write(const uint8_t* data, size_t length) = 0;

    // Device read thread, read handles. Blocks until one input report arrives, Wake() is
    // called, or the read fails. A report is placed with its report ID in buf[0] (0 for the
    // box, whose reports are unnumbered), so a 3-byte buffer holds ID, command and value.
    // kError sets the calling thread's last error (kErrorDeviceNotConnected once the device
    // is gone). A Wake() that came before the call makes it return kWoken at once; each
    // kWoken consumes one wake.
    virtual HidReadResult Read(uint8_t* buf, size_t length) = 0;

    // Any thread. Makes a blocked (or the next) Read return kWoken.
    virtual void Wake() = 0;
};

// The machine's HID devices: enumeration, open, and arrival/removal notification.
class IHidSystem {
  public:
    virtual ~IHidSystem() = default;

    // Main thread. The paths of the present HID device interfaces, in enumeration order.
    // Sets the last error to 0 on success, else to the failure's code.
    virtual std::vector<std::string> EnumerateInterfaces() = 0;

    // Main thread. Opens one interface; nullptr with the last error set on failure. A write
    // handle holds the device exclusively while it lives, so that two programs never drive
    // one box: a second kWrite open of the device, by any program of any user (or by this
    // one), fails with kErrorSharingViolation.
    virtual std::unique_ptr<IHidHandle> Open(const std::string& path, HidAccess access) = 0;

    // Main thread, once. From then on every arrival and removal of a HID device interface is
    // posted as kMsgDeviceChange (wParam kDeviceArrival or kDeviceRemoveComplete, text =
    // path) from a notification thread, until the object is destroyed. False when the
    // registration failed (last error set).
    virtual bool RegisterDeviceNotifications(IMessagePoster& poster) = 0;

    // Paths are compared without regard to letter case on Windows; on Linux a device node
    // path compares equal in any case too, which is harmless.
};

}  // namespace zuvo::platform
