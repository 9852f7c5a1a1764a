#include "platform/posix/hid_linux.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/errors.h"
#include "platform/posix/errno_map.h"

namespace zuvo::platform::posix {

namespace {

using UdevPtr = std::unique_ptr<udev, decltype(&udev_unref)>;
using UdevDevicePtr = std::unique_ptr<udev_device, decltype(&udev_device_unref)>;
using UdevEnumeratePtr = std::unique_ptr<udev_enumerate, decltype(&udev_enumerate_unref)>;

UdevPtr NewUdev() {
    UdevPtr context(udev_new(), &udev_unref);
    if (!context) {
        SetLastError(ErrorFromErrno(errno != 0 ? errno : ENOMEM));
    }
    return context;
}

// The udev device of a hidraw node; nullptr with the last error set when path is missing or
// is no hidraw node.
UdevDevicePtr HidrawDevice(udev* context, const std::string& path) {
    UdevDevicePtr none(nullptr, &udev_device_unref);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        SetLastErrorFromErrno();
        return none;
    }
    if (!S_ISCHR(st.st_mode)) {
        SetLastError(FromErrno(ENODEV));
        return none;
    }
    UdevDevicePtr device(udev_device_new_from_devnum(context, 'c', st.st_rdev), &udev_device_unref);
    const char* subsystem = device ? udev_device_get_subsystem(device.get()) : nullptr;
    if (subsystem == nullptr || std::strcmp(subsystem, "hidraw") != 0) {
        SetLastError(FromErrno(ENODEV));
        return none;
    }
    return device;
}

bool ParseHex16(const char* text, uint16_t& out) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 16);
    if (errno != 0 || end == text || value > 0xFFFF) {
        return false;
    }
    out = static_cast<uint16_t>(value);
    return true;
}

// Identity from the devices above the node, read from udev without opening anything.
bool UdevAttributes(const std::string& path, HidAttributes& out) {
    UdevPtr context = NewUdev();
    if (!context) {
        return false;
    }
    UdevDevicePtr device = HidrawDevice(context.get(), path);
    if (!device) {
        return false;
    }
    // Parents belong to the child device; they are not unreferenced here.
    udev_device* usb =
        udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
    if (usb != nullptr) {
        HidAttributes attributes;
        if (ParseHex16(udev_device_get_sysattr_value(usb, "idVendor"), attributes.vendorId) &&
            ParseHex16(udev_device_get_sysattr_value(usb, "idProduct"), attributes.productId)) {
            ParseHex16(udev_device_get_sysattr_value(usb, "bcdDevice"), attributes.versionNumber);
            out = attributes;
            return true;
        }
    }
    udev_device* hid = udev_device_get_parent_with_subsystem_devtype(device.get(), "hid", nullptr);
    const char* hidId = hid != nullptr ? udev_device_get_property_value(hid, "HID_ID") : nullptr;
    unsigned bus = 0;
    unsigned vendor = 0;
    unsigned product = 0;
    if (hidId != nullptr && std::sscanf(hidId, "%x:%x:%x", &bus, &vendor, &product) == 3) {
        out = HidAttributes{static_cast<uint16_t>(vendor), static_cast<uint16_t>(product), 0};
        return true;
    }
    return false;
}

class LinuxHidHandle final : public IHidHandle {
  public:
    LinuxHidHandle(std::string path, int fd, int wakeFd)
        : path_(std::move(path)), fd_(fd), wakeFd_(wakeFd) {}
    ~LinuxHidHandle() override {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (wakeFd_ >= 0) {
            ::close(wakeFd_);
        }
    }
    LinuxHidHandle(const LinuxHidHandle&) = delete;
    LinuxHidHandle& operator=(const LinuxHidHandle&) = delete;

    bool GetAttributes(HidAttributes& out) override {
        if (UdevAttributes(path_, out)) {
            return true;
        }
        int fd = fd_;
        if (fd < 0) {
            fd = ::open(path_.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                SetLastErrorFromErrno();
                return false;
            }
        }
        hidraw_devinfo info{};
        const int rc = ::ioctl(fd, HIDIOCGRAWINFO, &info);
        const int err = errno;
        if (fd != fd_) {
            ::close(fd);
        }
        if (rc < 0) {
            SetLastError(ErrorFromErrno(err));
            return false;
        }
        out = HidAttributes{static_cast<uint16_t>(info.vendor), static_cast<uint16_t>(info.product),
                            0};
        return true;
    }

    bool Write(const uint8_t* data, size_t length) override {
        if (fd_ < 0 || wakeFd_ >= 0) {
            SetLastError(FromErrno(EBADF));
            return false;
        }
        ssize_t n;
        do {
            n = ::write(fd_, data, length);
        } while (n < 0 && errno == EINTR);
        if (n < 0) {
            SetLastErrorFromErrno();
            return false;
        }
        if (static_cast<size_t>(n) != length) {
            SetLastError(FromErrno(EIO));
            return false;
        }
        return true;
    }

    HidReadResult Read(uint8_t* buf, size_t length) override {
        if (fd_ < 0 || wakeFd_ < 0) {
            SetLastError(FromErrno(EBADF));
            return {HidReadStatus::kError, 0};
        }
        if (buf == nullptr || length < 2) {
            SetLastError(FromErrno(EINVAL));
            return {HidReadStatus::kError, 0};
        }
        for (;;) {
            pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {fd_, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) {
                    continue;
                }
                SetLastErrorFromErrno();
                return {HidReadStatus::kError, 0};
            }
            if ((fds[0].revents & POLLIN) != 0) {
                uint64_t count = 0;
                if (::read(wakeFd_, &count, sizeof count) == sizeof count) {
                    return {HidReadStatus::kWoken, 0};
                }
                continue;
            }
            // hidraw answers poll with POLLERR | POLLHUP once its device has been removed and
            // keeps doing so; reading would only fail, so this is the unplugged box.
            if ((fds[1].revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
                SetLastError(kErrorDeviceNotConnected);
                return {HidReadStatus::kError, 0};
            }
            if ((fds[1].revents & POLLIN) == 0) {
                continue;
            }
            const ssize_t n = ::read(fd_, buf + 1, length - 1);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN) {
                    continue;
                }
                // A removed device makes hidraw fail reads with EIO (or ENODEV on the way out).
                if (errno == EIO || errno == ENODEV) {
                    SetLastError(kErrorDeviceNotConnected);
                } else {
                    SetLastErrorFromErrno();
                }
                return {HidReadStatus::kError, 0};
            }
            buf[0] = 0;
            return {HidReadStatus::kReport, static_cast<size_t>(n) + 1};
        }
    }

    void Wake() override {
        if (wakeFd_ >= 0) {
            const uint64_t one = 1;
            ssize_t n;
            do {
                n = ::write(wakeFd_, &one, sizeof one);
            } while (n < 0 && errno == EINTR);
        }
    }

  private:
    std::string path_;
    int fd_;      // -1 for an attribute handle
    int wakeFd_;  // read handles only
};

}  // namespace

LinuxHidSystem::~LinuxHidSystem() {
    if (monitorThread_.joinable()) {
        const uint64_t one = 1;
        ssize_t n;
        do {
            n = ::write(stopFd_, &one, sizeof one);
        } while (n < 0 && errno == EINTR);
        monitorThread_.join();
    }
    if (stopFd_ >= 0) {
        ::close(stopFd_);
    }
    if (monitor_ != nullptr) {
        udev_monitor_unref(monitor_);
    }
    if (monitorUdev_ != nullptr) {
        udev_unref(monitorUdev_);
    }
}

std::vector<std::string> LinuxHidSystem::EnumerateInterfaces() {
    std::vector<std::string> paths;
    UdevPtr context = NewUdev();
    if (!context) {
        return paths;
    }
    UdevEnumeratePtr enumerate(udev_enumerate_new(context.get()), &udev_enumerate_unref);
    if (!enumerate) {
        SetLastError(ErrorFromErrno(ENOMEM));
        return paths;
    }
    int rc = udev_enumerate_add_match_subsystem(enumerate.get(), "hidraw");
    if (rc >= 0) {
        rc = udev_enumerate_scan_devices(enumerate.get());
    }
    if (rc < 0) {
        SetLastError(ErrorFromErrno(-rc));
        return paths;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        UdevDevicePtr device(
            udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)),
            &udev_device_unref);
        const char* node = device ? udev_device_get_devnode(device.get()) : nullptr;
        if (node != nullptr) {
            paths.emplace_back(node);
        }
    }
    SetLastError(kErrorSuccess);
    return paths;
}

std::unique_ptr<IHidHandle> LinuxHidSystem::Open(const std::string& path, HidAccess access) {
    switch (access) {
        case HidAccess::kAttributes: {
            UdevPtr context = NewUdev();
            if (!context || !HidrawDevice(context.get(), path)) {
                return nullptr;
            }
            SetLastError(kErrorSuccess);
            return std::make_unique<LinuxHidHandle>(path, -1, -1);
        }
        case HidAccess::kWrite: {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
            if (fd < 0) {
                SetLastErrorFromErrno();
                return nullptr;
            }
            // hidraw lets every opener write; the lock is how programs driving the box keep
            // out of each other's way, whoever runs them.
            int rc;
            do {
                rc = ::flock(fd, LOCK_EX | LOCK_NB);
            } while (rc != 0 && errno == EINTR);
            if (rc != 0) {
                SetLastError(errno == EWOULDBLOCK ? kErrorSharingViolation : ErrorFromErrno(errno));
                ::close(fd);
                return nullptr;
            }
            SetLastError(kErrorSuccess);
            return std::make_unique<LinuxHidHandle>(path, fd, -1);
        }
        case HidAccess::kRead: {
            const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            if (fd < 0) {
                SetLastErrorFromErrno();
                return nullptr;
            }
            // Semaphore mode: each Wake is one count and each woken Read takes one.
            const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK | EFD_SEMAPHORE);
            if (wakeFd < 0) {
                SetLastErrorFromErrno();
                ::close(fd);
                return nullptr;
            }
            SetLastError(kErrorSuccess);
            return std::make_unique<LinuxHidHandle>(path, fd, wakeFd);
        }
    }
    SetLastError(FromErrno(EINVAL));
    return nullptr;
}

bool LinuxHidSystem::RegisterDeviceNotifications(IMessagePoster& poster) {
    if (monitorThread_.joinable()) {
        return true;
    }
    // Leaves nothing half set up, so a later call can try again.
    auto fail = [this](int err) {
        SetLastError(ErrorFromErrno(err != 0 ? err : ENOMEM));
        if (monitor_ != nullptr) {
            udev_monitor_unref(monitor_);
            monitor_ = nullptr;
        }
        if (monitorUdev_ != nullptr) {
            udev_unref(monitorUdev_);
            monitorUdev_ = nullptr;
        }
        return false;
    };
    monitorUdev_ = udev_new();
    if (monitorUdev_ == nullptr) {
        return fail(errno);
    }
    monitor_ = udev_monitor_new_from_netlink(monitorUdev_, "udev");
    if (monitor_ == nullptr) {
        return fail(errno);
    }
    int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr);
    if (rc >= 0) {
        rc = udev_monitor_enable_receiving(monitor_);
    }
    if (rc < 0) {
        return fail(-rc);
    }
    if (stopFd_ < 0) {
        stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (stopFd_ < 0) {
            return fail(errno);
        }
    }
    monitorThread_ = std::thread(&LinuxHidSystem::MonitorThread, this, &poster);
    SetLastError(kErrorSuccess);
    return true;
}

void LinuxHidSystem::MonitorThread(IMessagePoster* poster) {
    const int monitorFd = udev_monitor_get_fd(monitor_);
    for (;;) {
        pollfd fds[2] = {{stopFd_, POLLIN, 0}, {monitorFd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {  // the stop event: the owner is being destroyed
            return;
        }
        if ((fds[1].revents & POLLIN) == 0) {
            if (fds[1].revents != 0) {
                return;  // the monitor socket failed; polling it again would only spin
            }
            continue;
        }
        UdevDevicePtr device(udev_monitor_receive_device(monitor_), &udev_device_unref);
        if (!device) {
            continue;
        }
        const char* action = udev_device_get_action(device.get());
        const char* node = udev_device_get_devnode(device.get());
        if (action == nullptr || node == nullptr) {
            continue;
        }
        uint32_t event = 0;
        if (std::strcmp(action, "add") == 0) {
            event = kDeviceArrival;
        } else if (std::strcmp(action, "remove") == 0) {
            event = kDeviceRemoveComplete;
        } else {
            continue;
        }
        poster->Post(Message{kMsgDeviceChange, event, 0, node, 0});
    }
}

}  // namespace zuvo::platform::posix
