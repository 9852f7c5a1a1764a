#include "link/device_link_core.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo {

void LastBootReport::Store(const uint8_t* data, size_t length) {
    std::lock_guard lock(mutex_);
    data_.fill(0);
    std::memcpy(data_.data(), data, std::min(length, data_.size()));
}

std::array<uint8_t, 65> LastBootReport::Load() const {
    std::lock_guard lock(mutex_);
    return data_;
}

DeviceLinkCore::DeviceLinkCore(platform::IHidSystem& hid, platform::IMessagePoster& poster)
    : hid_(hid), poster_(poster) {}

DeviceLinkCore::~DeviceLinkCore() {
    connected_.store(false);
    StopReadThread();
}

bool DeviceLinkCore::WriteReport(const uint8_t* data, size_t length) {
    if (!write) {
        return true;
    }
    return write->Write(data, length);
}

void DeviceLinkCore::StartReadThread(std::unique_ptr<platform::IHidHandle> read,
                                     const std::atomic<bool>* wideReports,
                                     LastBootReport* lastReport) {
    StopReadThread();
    read_ = std::move(read);
    stopRequested_.store(false);
    ++generation_;
    readThread_ = std::thread(&DeviceLinkCore::ReadLoop, this, read_.get(), generation_,
                              wideReports, lastReport);
}

void DeviceLinkCore::StopReadThread() {
    if (readThread_.joinable()) {
        stopRequested_.store(true);
        read_->Wake();
        readThread_.join();
    }
    read_.reset();
}

void DeviceLinkCore::CloseHandles() {
    device.reset();
    StopReadThread();
    write.reset();
}

void DeviceLinkCore::ReadLoop(platform::IHidHandle* read, uint32_t generation,
                              const std::atomic<bool>* wideReports, LastBootReport* lastReport) {
    bool errorPosted = false;
    std::array<uint8_t, box::kBootReportSize> buf{};
    while (connected_.load() && !stopRequested_.load()) {
        const bool wide = wideReports != nullptr && wideReports->load();
        const size_t size = wide ? box::kBootReportSize : box::kReportSize;
        std::fill_n(buf.begin(), 3, 0xFF);
        const platform::HidReadResult result = read->Read(buf.data(), size);
        if (!connected_.load() || stopRequested_.load()) {
            break;
        }
        if (result.status == platform::HidReadStatus::kReport) {
            if (wide && lastReport != nullptr) {
                lastReport->Store(buf.data(), size);
            }
            poster_.Post({platform::kMsgBoxReport, 0, buf[1] * 256 + buf[2], {}, generation});
        } else if (result.status == platform::HidReadStatus::kError) {
            if (!errorPosted) {
                poster_.Post(
                    {platform::kMsgBoxReport, platform::GetLastError(), 0xFFFF, {}, generation});
                errorPosted = true;
            }
            // The main thread disconnects on the posted error; until it does, retry at a
            // bounded rate instead of spinning on a read that fails at once.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
}

}  // namespace zuvo
