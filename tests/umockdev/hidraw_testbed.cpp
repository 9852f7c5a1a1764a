#include "umockdev/hidraw_testbed.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <umockdev.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "link/box_protocol.h"

namespace zuvo::test {

namespace {

constexpr int kHidrawMajor = 240;
constexpr size_t kHidrawRing = 64;  // reports a hidraw reader holds before dropping new ones
constexpr size_t kHidMaxBuffer = 16384;

std::string Hex4(uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04x", value);
    return text;
}

std::string HidId(uint16_t bus, uint16_t vendor, uint16_t product) {
    char text[32];
    std::snprintf(text, sizeof text, "%04X:%08X:%08X", bus, vendor, product);
    return text;
}

// The kernel numbers HID devices in the order they appear, so a device plugged in again gets
// a new sysfs path even where it gets the same hidraw node.
std::string HidName(uint16_t bus, uint16_t vendor, uint16_t product, uint32_t instance) {
    char text[32];
    std::snprintf(text, sizeof text, "%04X:%04X:%04X.%04X", bus, vendor, product, instance);
    return text;
}

// umockdev_testbed_add_devicev with vectors; the device's "add" uevent goes out at once.
std::string AddDevice(UMockdevTestbed* testbed, const char* subsystem, const std::string& name,
                      const std::string& parent, const std::vector<std::string>& attributes,
                      const std::vector<std::string>& properties) {
    auto terminated = [](const std::vector<std::string>& list) {
        std::vector<gchar*> out;
        for (const std::string& s : list) {
            out.push_back(const_cast<gchar*>(s.c_str()));
        }
        out.push_back(nullptr);
        return out;
    };
    std::vector<gchar*> attrs = terminated(attributes);
    std::vector<gchar*> props = terminated(properties);
    gchar* path = umockdev_testbed_add_devicev(testbed, subsystem, name.c_str(),
                                               parent.empty() ? nullptr : parent.c_str(),
                                               attrs.data(), props.data());
    std::string result = path != nullptr ? path : "";
    g_free(path);
    return result;
}

uint32_t Generation(UMockdevIoctlClient* client) {
    return static_cast<uint32_t>(
        GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(client), "zuvo-generation")));
}

}  // namespace

struct HidrawTestbed::Slot {
    HidDevice device;
    bool box = false;
    uint32_t generation = 0;  // of the current plug-in; a client opened on another is dead
    bool gone = true;
    int master = -1;  // pty master: one byte per queued report; closing it hangs readers up
    int tokens = -1;  // our end of the pty's slave side, to take a byte back per report read
    int owed = 0;     // bytes that had not reached the slave side when their report was read
    std::deque<std::vector<uint8_t>> reports;
    std::vector<std::vector<uint8_t>> received;  // over every plug-in
    std::vector<std::string> syspaths;           // parents first
};

std::string HidrawTestbed::Unavailable() {
    void* preload = dlopen("libumockdev-preload.so.0", RTLD_NOLOAD | RTLD_LAZY);
    if (preload == nullptr) {
        return "not running under umockdev's preload library (install the umockdev package)";
    }
    dlclose(preload);
    return "";
}

HidrawTestbed::HidrawTestbed(std::string boxPort, int boxNode)
    : boxPort_(std::move(boxPort)), boxNode_(boxNode) {
    testbed_ = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(testbed_);
    root_ = root;
    g_free(root);
    // An ordinary user (AsOrdinaryUser) must reach the nodes to meet their permissions.
    ::chmod(root_.c_str(), 0755);
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "client-connected", G_CALLBACK(OnClientConnected), this);
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(OnRead), this);
    g_signal_connect(handler_, "handle-write", G_CALLBACK(OnWrite), this);

    sim_.SetTranscript(&transcript_);
    sim_.RegisterDeviceNotifications(simEvents_);
    PlugBoxFromSim();
    bus_ = std::thread([this] { BusLoop(); });
    pump_ = std::thread([this] { PumpLoop(); });
}

HidrawTestbed::~HidrawTestbed() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        if (boxReader_ != nullptr) {
            boxReader_->Wake();
        }
    }
    changed_.notify_all();
    simEvents_.Post({platform::kMsgQuit, 0, 0, {}, 0});
    bus_.join();
    pump_.join();
    for (auto& [node, slot] : slots_) {
        if (slot->master >= 0) {
            ::close(slot->master);
        }
        if (slot->tokens >= 0) {
            ::close(slot->tokens);
        }
    }
    g_object_unref(handler_);
    g_object_unref(testbed_);  // removes the tree and unsets UMOCKDEV_DIR
}

std::string HidrawTestbed::BoxNode() const {
    return "/dev/hidraw" + std::to_string(boxNode_);
}

std::string HidrawTestbed::Plug(const HidDevice& device) {
    std::lock_guard testbedLock(testbedMutex_);
    PlugLocked(device, false);
    return "/dev/hidraw" + std::to_string(device.node);
}

void HidrawTestbed::Unplug(const std::string& node) {
    std::lock_guard testbedLock(testbedMutex_);
    UnplugLocked(node);
}

void HidrawTestbed::PlugLocked(const HidDevice& device, bool box) {
    const std::string node = "/dev/hidraw" + std::to_string(device.node);
    if (std::find(attached_.begin(), attached_.end(), node) == attached_.end()) {
        GError* error = nullptr;
        if (!umockdev_testbed_attach_ioctl(testbed_, node.c_str(), handler_, &error)) {
            std::fprintf(stderr, "cannot serve %s: %s\n", node.c_str(), error->message);
            g_error_free(error);
            return;
        }
        attached_.push_back(node);
        // Any user may reach the handler, as any user may try to open a node.
        ::chmod((root_ + "/ioctl" + node).c_str(), 0666);
    }
    // The node first: a udev monitor's "add" promises that it exists.
    int master = -1;
    int slave = -1;
    char ptyName[256] = {};
    if (::openpty(&master, &slave, ptyName, nullptr, nullptr) != 0) {
        std::perror("openpty");
        return;
    }
    termios raw{};
    ::tcgetattr(master, &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(master, TCSANOW, &raw);
    ::fcntl(slave, F_SETFL, ::fcntl(slave, F_GETFL) | O_NONBLOCK);
    // Programs started by the tests must not hold the pty, or closing it would hang no one up.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    ::fchmod(slave, device.accessible ? 0666 : 0000);
    const std::string link = root_ + node;
    ::mkdir((root_ + "/dev").c_str(), 0755);
    ::unlink(link.c_str());
    ::symlink(ptyName, link.c_str());

    uint32_t generation = 0;
    {
        std::lock_guard lock(mutex_);
        std::unique_ptr<Slot>& slot = slots_[node];
        if (!slot) {
            slot = std::make_unique<Slot>();
        }
        slot->device = device;
        slot->box = box;
        slot->generation = generation = static_cast<uint32_t>(++generations_);
        slot->gone = false;
        slot->master = master;
        slot->tokens = slave;
        slot->owed = 0;
        slot->reports.clear();
        slot->syspaths.clear();
    }

    // The devices, parents first; each sends its "add" uevent as the kernel does.
    const std::string name = device.manufacturer + " " + device.product;
    std::vector<std::string> paths;
    std::string hid;
    switch (device.bus) {
        case HidDevice::Bus::kUsb: {
            const std::string usb = AddDevice(
                testbed_, "usb", "usb1/" + device.port, "",
                {"idVendor", Hex4(device.vendorId), "idProduct", Hex4(device.productId),
                 "bcdDevice", Hex4(device.bcdDevice), "manufacturer", device.manufacturer,
                 "product", device.product, "busnum", "1", "devnum", std::to_string(generation)},
                {"DEVTYPE", "usb_device", "PRODUCT",
                 Hex4(device.vendorId) + "/" + Hex4(device.productId) + "/" +
                     Hex4(device.bcdDevice)});
            const std::string interface =
                AddDevice(testbed_, "usb", device.port + ":1.0", usb, {"bInterfaceClass", "03"},
                          {"DEVTYPE", "usb_interface", "INTERFACE", "3/0/0"});
            hid = AddDevice(
                testbed_, "hid", HidName(3, device.vendorId, device.productId, generation),
                interface, {},
                {"HID_ID", HidId(3, device.vendorId, device.productId), "HID_NAME", name});
            paths = {usb, interface, hid};
            break;
        }
        case HidDevice::Bus::kBluetooth:
            hid = AddDevice(
                testbed_, "hid",
                "virtual/misc/uhid/" + HidName(5, device.vendorId, device.productId, generation),
                "", {}, {"HID_ID", HidId(5, device.vendorId, device.productId), "HID_NAME", name});
            paths = {hid};
            break;
        case HidDevice::Bus::kPlatform:
            hid = AddDevice(testbed_, "platform", "platform/" + device.port, "", {}, {});
            paths = {hid};
            break;
    }
    const std::string number = std::to_string(device.node);
    paths.push_back(
        AddDevice(testbed_, "hidraw", "hidraw/hidraw" + number, hid,
                  {"dev", std::to_string(kHidrawMajor) + ":" + number},
                  {"DEVNAME", node, "MAJOR", std::to_string(kHidrawMajor), "MINOR", number}));

    {
        std::lock_guard lock(mutex_);
        slots_[node]->syspaths = paths;
        if (box) {
            boxPlugs_.push_back(device.productId);
        }
    }
    changed_.notify_all();
}

void HidrawTestbed::UnplugLocked(const std::string& node) {
    std::vector<std::string> paths;
    {
        std::lock_guard lock(mutex_);
        auto it = slots_.find(node);
        if (it == slots_.end() || it->second->gone) {
            return;
        }
        Slot& slot = *it->second;
        // hidraw marks the device gone and wakes its readers before the uevents go out.
        slot.gone = true;
        ::close(slot.master);
        ::close(slot.tokens);
        slot.master = slot.tokens = -1;
        slot.reports.clear();
        if (slot.box) {
            boxWriter_.reset();
        }
        paths = slot.syspaths;
    }
    for (auto it = paths.rbegin(); it != paths.rend(); ++it) {
        umockdev_testbed_uevent(testbed_, it->c_str(), "remove");
        umockdev_testbed_remove_device(testbed_, it->c_str());
    }
    ::unlink((root_ + node).c_str());
    changed_.notify_all();
}

void HidrawTestbed::PlugBoxFromSim() {
    std::lock_guard testbedLock(testbedMutex_);
    UnplugLocked(BoxNode());
    // The pump's reader is opened before the bus shows the box, so that nothing the box
    // answers to a program that opens it on arrival is dropped.
    std::unique_ptr<platform::IHidHandle> reader =
        sim_.Open(sim::kSimBoxPath, platform::HidAccess::kRead);
    std::shared_ptr<platform::IHidHandle> writer =
        sim_.Open(sim::kSimBoxPath, platform::HidAccess::kWrite);
    if (!reader || !writer) {
        return;  // gone again already; its next arrival brings it back
    }
    const sim::SimDeviceInfo info = sim_.DeviceInfo(0);
    const bool bootLoader = info.productId == box::kProductBootLoader;
    HidDevice device;
    device.port = boxPort_;
    device.node = boxNode_;
    device.vendorId = info.vendorId;
    device.productId = info.productId;
    device.bcdDevice = 0x0100;
    device.manufacturer = "Zuvo";
    device.product = bootLoader ? "Zuvo Box Boot Loader" : "Zuvo Box";
    {
        std::lock_guard lock(mutex_);
        boxWriter_ = writer;
        pendingReader_ = std::move(reader);
    }
    PlugLocked(device, true);
}

bool HidrawTestbed::UnplugBox() {
    sim_.Unplug();
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
        auto it = slots_.find(BoxNode());
        return it != slots_.end() && it->second->gone;
    });
}

bool HidrawTestbed::ReplugBox() {
    sim_.Replug();
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] {
        auto it = slots_.find(BoxNode());
        return it != slots_.end() && !it->second->gone && pendingReader_ == nullptr;
    });
}

std::vector<std::vector<uint8_t>> HidrawTestbed::Received(const std::string& node) {
    std::lock_guard lock(mutex_);
    auto it = slots_.find(node);
    return it == slots_.end() ? std::vector<std::vector<uint8_t>>{} : it->second->received;
}

std::string HidrawTestbed::Transcript() {
    std::string text;
    sim_.WithBox([&](sim::SimBox&) { text = transcript_.str(); });
    return text;
}

std::vector<uint16_t> HidrawTestbed::BoxPlugHistory() {
    std::lock_guard lock(mutex_);
    return boxPlugs_;
}

void HidrawTestbed::DrainOwedTokens(Slot& slot) {
    char byte = 0;
    while (slot.owed > 0 && ::read(slot.tokens, &byte, 1) == 1) {
        --slot.owed;
    }
}

void HidrawTestbed::PushReport(const std::vector<uint8_t>& payload) {
    std::lock_guard lock(mutex_);
    auto it = slots_.find(BoxNode());
    if (it == slots_.end() || it->second->gone || it->second->reports.size() >= kHidrawRing) {
        return;
    }
    Slot& slot = *it->second;
    slot.reports.push_back(payload);
    const char byte = 'r';
    if (::write(slot.master, &byte, 1) != 1) {
        std::perror("report readiness");
    }
    DrainOwedTokens(slot);
}

void HidrawTestbed::BusLoop() {
    for (;;) {
        platform::Message message;
        if (!simEvents_.Wait(message, std::chrono::seconds(1))) {
            continue;
        }
        if (message.id == platform::kMsgQuit) {
            return;
        }
        if (message.id != platform::kMsgDeviceChange || message.text != sim::kSimBoxPath) {
            continue;
        }
        if (message.wParam == platform::kDeviceArrival) {
            PlugBoxFromSim();
        } else {
            Unplug(BoxNode());
        }
    }
}

void HidrawTestbed::PumpLoop() {
    std::unique_ptr<platform::IHidHandle> reader;
    for (;;) {
        {
            std::unique_lock lock(mutex_);
            boxReader_ = nullptr;
            changed_.wait(lock, [&] { return stop_ || pendingReader_ != nullptr; });
            if (stop_) {
                return;
            }
            reader = std::move(pendingReader_);
            boxReader_ = reader.get();
        }
        changed_.notify_all();
        for (;;) {
            uint8_t buf[box::kBootReportSize];
            const platform::HidReadResult result = reader->Read(buf, sizeof buf);
            if (result.status == platform::HidReadStatus::kWoken) {
                std::lock_guard lock(mutex_);
                if (stop_) {
                    boxReader_ = nullptr;
                    return;
                }
                continue;
            }
            if (result.status == platform::HidReadStatus::kError) {
                break;  // off USB; the next plug-in hands over a new reader
            }
            // The box's reports are unnumbered: on the wire they carry no report ID.
            if (result.length > 1) {
                PushReport(std::vector<uint8_t>(buf + 1, buf + result.length));
            }
        }
        std::lock_guard lock(mutex_);
        boxReader_ = nullptr;
        reader.reset();
    }
}

HidrawTestbed::Slot* HidrawTestbed::LiveSlotLocked(_UMockdevIoctlClient* client) {
    auto it = slots_.find(umockdev_ioctl_client_get_devnode(client));
    if (it == slots_.end() || it->second->gone || it->second->generation != Generation(client)) {
        return nullptr;
    }
    return it->second.get();
}

void HidrawTestbed::OnClientConnected(_UMockdevIoctlBase*, _UMockdevIoctlClient* client,
                                      void* self) {
    auto* bed = static_cast<HidrawTestbed*>(self);
    std::lock_guard lock(bed->mutex_);
    auto it = bed->slots_.find(umockdev_ioctl_client_get_devnode(client));
    const uint32_t generation = it == bed->slots_.end() ? 0 : it->second->generation;
    g_object_set_data(G_OBJECT(client), "zuvo-generation", GSIZE_TO_POINTER(generation));
}

int HidrawTestbed::OnIoctl(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto* bed = static_cast<HidrawTestbed*>(self);
    std::lock_guard lock(bed->mutex_);
    Slot* slot = bed->LiveSlotLocked(client);
    if (slot == nullptr) {
        umockdev_ioctl_client_complete(client, -1, ENODEV);
        return TRUE;
    }
    // Of hidraw's ioctls the identity is all the backend asks for; others fail as unknown.
    if (umockdev_ioctl_client_get_request(client) != HIDIOCGRAWINFO) {
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
    const HidDevice& device = slot->device;
    hidraw_devinfo info{};
    info.bustype = device.bus == HidDevice::Bus::kUsb         ? BUS_USB
                   : device.bus == HidDevice::Bus::kBluetooth ? BUS_BLUETOOTH
                                                              : BUS_VIRTUAL;
    info.vendor = static_cast<__s16>(device.vendorId);
    info.product = static_cast<__s16>(device.productId);
    UMockdevIoctlData* data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof info, nullptr);
    if (data == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EFAULT);
        return TRUE;
    }
    std::memcpy(data->data, &info, sizeof info);
    umockdev_ioctl_client_complete(client, 0, 0);
    g_object_unref(data);
    return TRUE;
}

int HidrawTestbed::OnRead(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto* bed = static_cast<HidrawTestbed*>(self);
    std::lock_guard lock(bed->mutex_);
    Slot* slot = bed->LiveSlotLocked(client);
    if (slot == nullptr) {
        umockdev_ioctl_client_complete(client, -1, EIO);  // what hidraw reads give once gone
        return TRUE;
    }
    bed->DrainOwedTokens(*slot);
    if (slot->reports.empty()) {
        umockdev_ioctl_client_complete(client, -1, EAGAIN);
        return TRUE;
    }
    const std::vector<uint8_t> report = std::move(slot->reports.front());
    slot->reports.pop_front();
    char byte = 0;
    if (::read(slot->tokens, &byte, 1) != 1) {
        ++slot->owed;
    }
    // One report per read; what does not fit the caller's buffer is lost, as in hidraw.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t n = std::min(report.size(), static_cast<size_t>(arg->data_len));
    std::memcpy(arg->data, report.data(), n);
    umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
    return TRUE;
}

int HidrawTestbed::OnWrite(_UMockdevIoctlBase*, _UMockdevIoctlClient* client, void* self) {
    auto* bed = static_cast<HidrawTestbed*>(self);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    const size_t length = static_cast<size_t>(arg->data_len);
    std::shared_ptr<platform::IHidHandle> writer;
    std::vector<uint8_t> payload;
    {
        std::lock_guard lock(bed->mutex_);
        Slot* slot = bed->LiveSlotLocked(client);
        if (slot == nullptr) {
            umockdev_ioctl_client_complete(client, -1, ENODEV);
            return TRUE;
        }
        if (length < 2 || length > kHidMaxBuffer) {
            umockdev_ioctl_client_complete(client, -1, EINVAL);
            return TRUE;
        }
        // The first byte is the report ID. 0 means an unnumbered report, which goes to the
        // device without it; any other value is sent along as part of the report.
        const uint8_t* data = arg->data;
        payload.assign(data[0] == 0 ? data + 1 : data, data + length);
        slot->received.push_back(payload);
        if (slot->box) {
            writer = bed->boxWriter_;
        }
    }
    if (writer) {
        // The box takes what arrives; a report of the wrong size is dropped by its firmware,
        // while the transfer itself succeeded.
        std::vector<uint8_t> report = {0};
        report.insert(report.end(), payload.begin(), payload.end());
        writer->Write(report.data(), report.size());
    }
    umockdev_ioctl_client_complete(client, static_cast<glong>(length), 0);
    return TRUE;
}

AsOrdinaryUser::AsOrdinaryUser() {
    if (::geteuid() == 0) {
        switched_ = ::seteuid(65534) == 0;  // nobody
    }
}

AsOrdinaryUser::~AsOrdinaryUser() {
    if (switched_ && ::seteuid(0) != 0) {
        std::perror("seteuid");
    }
}

}  // namespace zuvo::test
