#include "sim/sim_hid.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "link/box_protocol.h"
#include "platform/errors.h"
#include "sim/sim_fsk.h"
#include "sim/sim_keyer.h"

namespace zuvo::sim {

using platform::HidAccess;
using platform::HidAttributes;
using platform::HidReadResult;
using platform::HidReadStatus;

// One open handle. Like a real device handle it dies with the device: once the device has
// been removed it fails with "device not connected" even after the device returns.
class SimHidHandle final : public platform::IHidHandle {
  public:
    // Made with the system's lock held.
    SimHidHandle(SimHidSystem& system, SimHidSystem::Device& device, HidAccess access)
        : system_(system), device_(device), generation_(device.generation), access_(access) {
        if (access_ == HidAccess::kRead) {
            // Like hidraw, a reader only gets reports sent after it opened: whatever the box
            // said while nobody listened is gone.
            if (device_.readHandles++ == 0 && device_.box) {
                device_.box->DropOutput();
            }
        }
    }
    ~SimHidHandle() override {
        if (access_ == HidAccess::kRead) {
            std::lock_guard lock(system_.mutex_);
            --device_.readHandles;
        }
    }

    bool GetAttributes(HidAttributes& out) override {
        std::lock_guard lock(system_.mutex_);
        if (GoneLocked()) {
            platform::SetLastError(platform::kErrorDeviceNotConnected);
            return false;
        }
        out.vendorId = device_.info.vendorId;
        out.productId = device_.info.productId;
        out.versionNumber = device_.info.versionNumber;
        if (device_.box) {
            out.productId = device_.box->UsbProductId();
            // bcdDevice-like: version byte in the high byte, patch level in the low byte.
            out.versionNumber = static_cast<uint16_t>(device_.box->Setting(box::kQuery) << 8 |
                                                      device_.box->Setting(box::kPatchLevel));
        }
        platform::SetLastError(0);
        return true;
    }

    bool Write(const uint8_t* data, size_t length) override {
        std::unique_lock lock(system_.mutex_);
        if (access_ != HidAccess::kWrite) {
            platform::SetLastError(platform::kErrorAccessDenied);
            return false;
        }
        if (GoneLocked()) {
            platform::SetLastError(platform::kErrorDeviceNotConnected);
            return false;
        }
        const size_t size = device_.box ? device_.box->UsbReportSize() : device_.info.reportSize;
        if (data == nullptr || length != size || data[0] != 0) {
            platform::SetLastError(platform::FromErrno(EINVAL));
            return false;
        }
        if (device_.box) {
            device_.box->ReceiveRawReport(data, length);
        }
        platform::SetLastError(0);
        system_.AfterChange(lock);
        return true;
    }

    HidReadResult Read(uint8_t* buf, size_t length) override {
        std::unique_lock lock(system_.mutex_);
        if (access_ != HidAccess::kRead) {
            platform::SetLastError(platform::kErrorAccessDenied);
            return {HidReadStatus::kError, 0};
        }
        SimBox* box = device_.box.get();
        system_.readable_.wait(lock, [&] {
            return wakes_ > 0 || GoneLocked() || (box != nullptr && box->HasReady());
        });
        if (wakes_ > 0) {
            --wakes_;
            return {HidReadStatus::kWoken, 0};
        }
        if (GoneLocked()) {
            platform::SetLastError(platform::kErrorDeviceNotConnected);
            return {HidReadStatus::kError, 0};
        }
        SimReport report;
        box->PopReady(report);
        if (report.raw.empty()) {
            report.raw = {0, report.code, report.value};
        }
        const size_t n = std::min(length, report.raw.size());
        std::memcpy(buf, report.raw.data(), n);
        return {HidReadStatus::kReport, n};
    }

    void Wake() override {
        {
            std::lock_guard lock(system_.mutex_);
            ++wakes_;
        }
        system_.readable_.notify_all();
    }

  private:
    bool GoneLocked() const { return generation_ != device_.generation || !device_.present; }

    SimHidSystem& system_;
    SimHidSystem::Device& device_;
    const uint64_t generation_;
    const HidAccess access_;
    int wakes_ = 0;  // guarded by the system's mutex
};

SimHidSystem::SimHidSystem() : SimHidSystem(Options{}) {}

SimHidSystem::SimHidSystem(Options options) {
    if (options.clock == nullptr) {
        ownClock_ = std::make_unique<SteadyClock>();
        clock_ = ownClock_.get();
    } else {
        clock_ = options.clock;
    }
    AddBox(kSimBoxPath);
    if (options.driverThread) {
        driver_ = std::thread([this] { DriverLoop(); });
    }
}

SimHidSystem::~SimHidSystem() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    driverWake_.notify_all();
    if (driver_.joinable()) {
        driver_.join();
    }
}

std::vector<std::string> SimHidSystem::EnumerateInterfaces() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& device : devices_) {
        if (device->present) {
            paths.push_back(device->info.path);
        }
    }
    platform::SetLastError(0);
    return paths;
}

std::unique_ptr<platform::IHidHandle> SimHidSystem::Open(const std::string& path,
                                                         HidAccess access) {
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(path);
    if (device == nullptr || !device->present) {
        platform::SetLastError(platform::kErrorFileNotFound);
        return nullptr;
    }
    platform::SetLastError(0);
    return std::make_unique<SimHidHandle>(*this, *device, access);
}

bool SimHidSystem::RegisterDeviceNotifications(platform::IMessagePoster& poster) {
    std::lock_guard lock(mutex_);
    poster_ = &poster;
    platform::SetLastError(0);
    return true;
}

void SimHidSystem::Unplug() {
    WithBox([](SimBox& box) { box.Unplug(); });
}
void SimHidSystem::Replug() {
    WithBox([](SimBox& box) { box.Replug(); });
}
void SimHidSystem::SetSwitches(uint8_t switches) {
    WithBox([switches](SimBox& box) { box.SetSwitches(switches); });
}
void SimHidSystem::SetPot(uint8_t wpm) {
    WithBox([wpm](SimBox& box) { box.SetPot(wpm); });
}
void SimHidSystem::PressPaddle() {
    WithBox([](SimBox& box) { box.PressPaddle(); });
}
void SimHidSystem::SetReplyDelayMs(int ms) {
    WithBox([ms](SimBox& box) { box.SetReplyDelayMs(ms); });
}
void SimHidSystem::SetVersion(uint8_t major, uint8_t minor, uint8_t patch, uint8_t special) {
    WithBox([=](SimBox& box) { box.SetVersion(major, minor, patch, special); });
}

void SimHidSystem::WithBox(const std::function<void(SimBox&)>& fn, size_t index) {
    std::unique_lock lock(mutex_);
    if (index < devices_.size() && devices_[index]->box) {
        fn(*devices_[index]->box);
    }
    AfterChange(lock);
}

size_t SimHidSystem::AddBox(const std::string& path) {
    std::lock_guard lock(mutex_);
    auto device = std::make_unique<Device>();
    device->info = {path, box::kVendorId, box::kProductApplication, 0, box::kReportSize};
    device->box = std::make_unique<SimBox>(*clock_);
    SimFsk::Install(*device->box);
    SimKeyer::Install(*device->box);
    if (!devices_.empty() && devices_.front()->box) {
        // Later boxes write to the same transcript as the first.
        device->box->SetTranscript(transcript_);
    }
    devices_.push_back(std::move(device));
    return devices_.size() - 1;
}

void SimHidSystem::AddOtherDevice(SimDeviceInfo info) {
    std::lock_guard lock(mutex_);
    auto device = std::make_unique<Device>();
    device->info = std::move(info);
    devices_.push_back(std::move(device));
}

void SimHidSystem::SetOtherDevicePresent(const std::string& path, bool present) {
    std::unique_lock lock(mutex_);
    Device* device = FindLocked(path);
    if (device != nullptr && !device->box) {
        device->otherPresent = present;
    }
    AfterChange(lock);
}

void SimHidSystem::SetDeviceInfo(size_t index, const SimDeviceInfo& info) {
    std::lock_guard lock(mutex_);
    if (index < devices_.size()) {
        devices_[index]->info = info;
    }
}

SimDeviceInfo SimHidSystem::DeviceInfo(size_t index) {
    std::lock_guard lock(mutex_);
    if (index >= devices_.size()) {
        return {};
    }
    SimDeviceInfo info = devices_[index]->info;
    if (devices_[index]->box) {
        info.productId = devices_[index]->box->UsbProductId();
        info.reportSize = devices_[index]->box->UsbReportSize();
    }
    return info;
}

void SimHidSystem::SetTranscript(std::ostream* out) {
    std::lock_guard lock(mutex_);
    transcript_ = out;
    for (auto& device : devices_) {
        if (device->box) {
            device->box->SetTranscript(out);
        }
    }
    if (out != &transcriptFile_ && transcriptFile_.is_open()) {
        transcriptFile_.close();
    }
}

bool SimHidSystem::SetTranscript(const std::string& path) {
    std::lock_guard lock(mutex_);
    for (auto& device : devices_) {
        if (device->box) {
            device->box->SetTranscript(nullptr);
        }
    }
    transcript_ = nullptr;
    if (transcriptFile_.is_open()) {
        transcriptFile_.close();
    }
    transcriptFile_.clear();
    transcriptFile_.open(path, std::ios::out | std::ios::trunc);
    if (!transcriptFile_.is_open()) {
        return false;
    }
    transcript_ = &transcriptFile_;
    for (auto& device : devices_) {
        if (device->box) {
            device->box->SetTranscript(transcript_);
        }
    }
    return true;
}

void SimHidSystem::Service() {
    std::unique_lock lock(mutex_);
    const bool readable = ServiceLocked();
    lock.unlock();
    if (readable) {
        readable_.notify_all();
    }
}

SimHidSystem::Device* SimHidSystem::FindLocked(const std::string& path) {
    for (auto& device : devices_) {
        if (device->info.path == path) {
            return device.get();
        }
    }
    return nullptr;
}

bool SimHidSystem::PresentLocked(const Device& device) const {
    return device.box ? device.box->UsbAttached() : device.otherPresent;
}

bool SimHidSystem::SyncPresenceLocked() {
    bool changed = false;
    for (auto& device : devices_) {
        const bool present = PresentLocked(*device);
        if (present == device->present) {
            continue;
        }
        changed = true;
        device->present = present;
        if (!present) {
            ++device->generation;
        }
        // Posted under the lock so that removals and arrivals keep their order.
        if (poster_ != nullptr) {
            platform::Message message;
            message.id = platform::kMsgDeviceChange;
            message.wParam = present ? platform::kDeviceArrival : platform::kDeviceRemoveComplete;
            message.text = device->info.path;
            poster_->Post(std::move(message));
        }
    }
    return changed;
}

void SimHidSystem::AfterChange(std::unique_lock<std::mutex>& lock) {
    const bool readable = ServiceLocked();
    const int64_t next = NextTimedEventLocked(clock_->NowMs());
    const bool kick = next >= 0 && (driverDeadlineMs_ < 0 || next < driverDeadlineMs_);
    if (kick) {
        driverKick_ = true;
    }
    lock.unlock();
    if (kick) {
        driverWake_.notify_all();
    }
    if (readable) {
        readable_.notify_all();
    }
}

bool SimHidSystem::ServiceLocked() {
    bool readable = false;
    for (auto& device : devices_) {
        if (device->box) {
            device->box->Tick();
            readable = readable || device->box->HasReady();
        }
    }
    return SyncPresenceLocked() || readable;
}

int64_t SimHidSystem::NextTimedEventLocked(int64_t now) const {
    int64_t next = -1;
    for (const auto& device : devices_) {
        if (device->box) {
            const int64_t t = device->box->NextEventAfterMs(now);
            if (t >= 0 && (next < 0 || t < next)) {
                next = t;
            }
        }
    }
    return next;
}

void SimHidSystem::DriverLoop() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
        if (ServiceLocked()) {
            readable_.notify_all();
        }
        const int64_t next = NextTimedEventLocked(clock_->NowMs());
        driverDeadlineMs_ = next;
        driverKick_ = false;
        auto woken = [this] { return stop_ || driverKick_; };
        if (next < 0) {
            driverWake_.wait(lock, woken);
        } else {
            // Until the event's own moment: a wait measured from the millisecond's start
            // would wake up to a millisecond late, so an answer due in the next frame came
            // a whole frame after its request, however quickly the host had asked.
            driverWake_.wait_until(lock, clock_->RealTimeOfMs(next), woken);
        }
        ++driverWakeups_;
    }
}

uint64_t SimHidSystem::DriverWakeups() const {
    std::lock_guard lock(mutex_);
    return driverWakeups_;
}

}  // namespace zuvo::sim
