#include "platform/fake/fake_hid.h"

#include <algorithm>
#include <cstring>

#include "platform/errors.h"

namespace zuvo::platform::fake {

class FakeHidHandle final : public IHidHandle {
  public:
    FakeHidHandle(FakeHidSystem& system, std::string path, HidAccess access)
        : system_(system), path_(std::move(path)), access_(access) {
        if (access_ == HidAccess::kRead) {
            std::lock_guard lock(system_.mutex_);
            ++system_.devices_[path_].readHandles;
        }
    }
    ~FakeHidHandle() override {
        std::lock_guard lock(system_.mutex_);
        if (access_ == HidAccess::kRead) {
            --system_.devices_[path_].readHandles;
        } else if (access_ == HidAccess::kWrite) {
            --system_.devices_[path_].writeHandles;  // counted by Open
        }
    }

    bool GetAttributes(HidAttributes& out) override {
        std::lock_guard lock(system_.mutex_);
        auto& state = system_.devices_[path_];
        if (state.device.attributesError != 0) {
            SetLastError(state.device.attributesError);
            return false;
        }
        out = state.device.attributes;
        return true;
    }

    bool Write(const uint8_t* data, size_t length) override {
        std::lock_guard lock(system_.mutex_);
        auto& state = system_.devices_[path_];
        if (!state.device.present) {
            SetLastError(kErrorDeviceNotConnected);
            return false;
        }
        if (state.device.writeError != 0) {
            SetLastError(state.device.writeError);
            return false;
        }
        if (state.device.writesBeforeUnplug == 0) {
            state.device.present = false;
            system_.changed_.notify_all();
            SetLastError(kErrorDeviceNotConnected);
            return false;
        }
        if (state.device.writesBeforeUnplug > 0) {
            --state.device.writesBeforeUnplug;
        }
        state.written.emplace_back(data, data + length);
        return true;
    }

    HidReadResult Read(uint8_t* buf, size_t length) override {
        std::unique_lock lock(system_.mutex_);
        auto& state = system_.devices_[path_];
        system_.changed_.wait(
            lock, [&] { return wakes_ > 0 || !state.device.present || !state.input.empty(); });
        if (wakes_ > 0) {
            --wakes_;
            return {HidReadStatus::kWoken, 0};
        }
        if (!state.device.present) {
            SetLastError(kErrorDeviceNotConnected);
            return {HidReadStatus::kError, 0};
        }
        std::vector<uint8_t> report = std::move(state.input.front());
        state.input.pop_front();
        const size_t n = std::min(length, report.size());
        std::memcpy(buf, report.data(), n);
        return {HidReadStatus::kReport, n};
    }

    void Wake() override {
        {
            std::lock_guard lock(system_.mutex_);
            ++wakes_;
        }
        system_.changed_.notify_all();
    }

  private:
    FakeHidSystem& system_;
    std::string path_;
    HidAccess access_;
    int wakes_ = 0;  // guarded by system_.mutex_
};

void FakeHidSystem::AddDevice(const std::string& path, Device device) {
    std::lock_guard lock(mutex_);
    if (std::find(order_.begin(), order_.end(), path) == order_.end()) {
        order_.push_back(path);
    }
    devices_[path].device = device;
}

void FakeHidSystem::SetPresent(const std::string& path, bool present) {
    {
        std::lock_guard lock(mutex_);
        devices_[path].device.present = present;
    }
    changed_.notify_all();
}

FakeHidSystem::Device& FakeHidSystem::DeviceAt(const std::string& path) {
    std::lock_guard lock(mutex_);
    return devices_[path].device;
}

void FakeHidSystem::PushReport(const std::string& path, std::vector<uint8_t> report) {
    {
        std::lock_guard lock(mutex_);
        devices_[path].input.push_back(std::move(report));
    }
    changed_.notify_all();
}

std::vector<std::vector<uint8_t>> FakeHidSystem::Written(const std::string& path) {
    std::lock_guard lock(mutex_);
    return devices_[path].written;
}

void FakeHidSystem::ClearWritten(const std::string& path) {
    std::lock_guard lock(mutex_);
    devices_[path].written.clear();
}

int FakeHidSystem::OpenReadHandles(const std::string& path) {
    std::lock_guard lock(mutex_);
    return devices_[path].readHandles;
}

std::vector<std::string> FakeHidSystem::EnumerateInterfaces() {
    std::lock_guard lock(mutex_);
    std::vector<std::string> paths;
    for (const auto& path : order_) {
        if (devices_[path].device.present) {
            paths.push_back(path);
        }
    }
    SetLastError(0);
    return paths;
}

std::unique_ptr<IHidHandle> FakeHidSystem::Open(const std::string& path, HidAccess access) {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(path);
    if (it == devices_.end() || !it->second.device.present) {
        SetLastError(kErrorFileNotFound);
        return nullptr;
    }
    const uint32_t error = it->second.device.openError[static_cast<int>(access)];
    if (error != 0) {
        SetLastError(error);
        return nullptr;
    }
    if (access == HidAccess::kWrite) {
        if (it->second.writeHandles > 0) {
            SetLastError(kErrorSharingViolation);  // a write handle holds the device
            return nullptr;
        }
        ++it->second.writeHandles;
    }
    SetLastError(0);
    mutex_.unlock();
    auto handle = std::make_unique<FakeHidHandle>(*this, path, access);
    mutex_.lock();
    return handle;
}

bool FakeHidSystem::RegisterDeviceNotifications(IMessagePoster& poster) {
    poster_ = &poster;
    return true;
}

}  // namespace zuvo::platform::fake
