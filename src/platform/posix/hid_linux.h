#pragma once

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid.h"

struct udev;
struct udev_monitor;

namespace zuvo::platform::posix {

// HID devices through the kernel's hidraw nodes, found and watched with libudev.
//
// EnumerateInterfaces: the device nodes ("/dev/hidrawN") of the hidraw devices udev knows,
//   in udev's order; a device without a node yet is skipped. Never opens a device.
//
// Open(path, kAttributes): opens nothing. It checks that path is the node of a hidraw
//   device (missing: the errno of stat, e.g. "No such file or directory"; another kind of
//   file: "No such device") and returns a handle that can only read attributes, because a
//   user may not open other users' keyboards and the identity check must not need to.
// Open(path, kWrite): open(O_WRONLY) and an exclusive flock on the node, held while the
//   handle lives; a node another open file holds locked fails with kErrorSharingViolation.
//   Write blocks until the kernel took the report.
// Open(path, kRead): open(O_RDONLY | O_NONBLOCK) plus an eventfd that Wake signals.
//
// IHidHandle::GetAttributes: vendor, product and bcdDevice of the USB device above the node
//   (udev attributes), else the HID_ID of the HID device above it (non-USB buses, version
//   0), else the HIDIOCGRAWINFO ioctl on the node, which needs read access.
// IHidHandle::Read (device read thread): polls the node and the eventfd without a time
//   limit. A pending wake wins over a pending report and is consumed one per call. A report
//   is read into buf + 1 (at most length - 1 bytes, the rest of a longer report is
//   dropped by the kernel) and buf[0] is set to 0, the report ID the box's unnumbered
//   reports have on the Windows side, so callers see the same layout on both systems.
//   A node that reports POLLERR, POLLHUP or POLLNVAL, or a read failing with ENODEV or
//   EIO, means the device was unplugged: the last error is kErrorDeviceNotConnected.
// IHidHandle::Write (main thread): writes the report as given, report ID byte first; for
//   a device without numbered reports hidraw takes the leading 0 off before sending, which
//   is why the ID byte is always written. A short write fails with EIO.
// IHidHandle::Wake (any thread): adds one to the eventfd; no effect on other handles.
//
// RegisterDeviceNotifications: a udev monitor ("udev" events, so the node exists and its
//   permissions are set when the message arrives) on subsystem hidraw, watched by a
//   notification thread that polls the monitor and a stop eventfd. Each "add" and
//   "remove" becomes kMsgDeviceChange with kDeviceArrival or kDeviceRemoveComplete and the
//   node path. A second call answers true and changes nothing. The destructor stops and
//   joins the thread, so the poster must outlive this object.
class LinuxHidSystem final : public IHidSystem {
  public:
    LinuxHidSystem() = default;
    ~LinuxHidSystem() override;
    LinuxHidSystem(const LinuxHidSystem&) = delete;
    LinuxHidSystem& operator=(const LinuxHidSystem&) = delete;

    std::vector<std::string> EnumerateInterfaces() override;
    std::unique_ptr<IHidHandle> Open(const std::string& path, HidAccess access) override;
    bool RegisterDeviceNotifications(IMessagePoster& poster) override;

  private:
    void MonitorThread(IMessagePoster* poster);

    struct udev* monitorUdev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;
    int stopFd_ = -1;
    std::thread monitorThread_;
};

}  // namespace zuvo::platform::posix
