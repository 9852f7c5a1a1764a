#include "platform/fake/fake_host_port.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "platform/errors.h"

namespace zuvo::platform::fake {

void FakeHostPort::Connect() {
    std::lock_guard lock(mutex_);
    waiting_ = false;  // the waiter has something now
    connected_ = true;
    changed_.notify_all();
}

void FakeHostPort::Send(const std::string& bytes) {
    std::lock_guard lock(mutex_);
    waiting_ = false;  // the waiter has something now
    items_.push_back(Item{Item::kBytes, bytes, 0, 0, false});
    changed_.notify_all();
}

void FakeHostPort::Disconnect() {
    std::lock_guard lock(mutex_);
    waiting_ = false;  // the waiter has something now
    items_.push_back(Item{Item::kError, {}, kErrorBrokenPipe, 0, true});
    changed_.notify_all();
}

void FakeHostPort::FailRead(uint32_t error) {
    std::lock_guard lock(mutex_);
    waiting_ = false;  // the waiter has something now
    items_.push_back(Item{Item::kError, {}, error, 0, false});
    changed_.notify_all();
}

void FakeHostPort::ModemChange(uint32_t mask, uint32_t status) {
    std::lock_guard lock(mutex_);
    waiting_ = false;  // the waiter has something now
    items_.push_back(Item{Item::kModem, {}, mask, status, false});
    changed_.notify_all();
}

void FakeHostPort::SetWriteError(uint32_t error) {
    std::lock_guard lock(mutex_);
    writeError_ = error;
}

void FakeHostPort::SetModemError(uint32_t error) {
    std::lock_guard lock(mutex_);
    modemError_ = error;
}

std::vector<std::string> FakeHostPort::Writes() const {
    std::lock_guard lock(mutex_);
    return writes_;
}

bool FakeHostPort::Woken() const {
    std::lock_guard lock(mutex_);
    return woken_;
}

bool FakeHostPort::WaitIdle(int timeoutMs) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return waiting_ && items_.empty(); });
}

PortStatus FakeHostPort::WaitForClient() {
    std::unique_lock lock(mutex_);
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return woken_ || connected_; });
    waiting_ = false;
    return woken_ ? PortStatus::kWoken : PortStatus::kReady;
}

PortReadResult FakeHostPort::Read(uint8_t* buf, size_t size) {
    std::unique_lock lock(mutex_);
    for (;;) {
        waiting_ = true;
        changed_.notify_all();
        changed_.wait(lock, [&] { return woken_ || !items_.empty(); });
        waiting_ = false;
        if (woken_) {
            return {PortStatus::kWoken, 0};
        }
        Item& item = items_.front();
        if (item.kind == Item::kModem) {
            modemStatus_ = item.status;
            items_.pop_front();
            continue;
        }
        if (item.kind == Item::kError) {
            const Item e = item;
            items_.pop_front();
            if (e.lossOfClient) {
                connected_ = false;
            }
            SetLastError(e.value);
            return {PortStatus::kError, 0};
        }
        const size_t n = std::min(size, item.bytes.size());
        std::memcpy(buf, item.bytes.data(), n);
        item.bytes.erase(0, n);
        if (item.bytes.empty()) {
            items_.pop_front();
        }
        return {PortStatus::kReady, n};
    }
}

PortStatus FakeHostPort::WaitCommEvent(uint32_t& mask) {
    std::unique_lock lock(mutex_);
    waiting_ = true;
    changed_.notify_all();
    changed_.wait(lock, [&] { return woken_ || !items_.empty(); });
    waiting_ = false;
    if (woken_) {
        return PortStatus::kWoken;
    }
    Item& item = items_.front();
    if (item.kind == Item::kModem) {
        mask = item.value;
        modemStatus_ = item.status;
        items_.pop_front();
        return PortStatus::kReady;
    }
    if (item.kind == Item::kError) {
        SetLastError(item.value);
        items_.pop_front();
        return PortStatus::kError;
    }
    mask = kCommEventRxChar;
    return PortStatus::kReady;
}

bool FakeHostPort::InputQueueCount(size_t& count) {
    std::lock_guard lock(mutex_);
    count = 0;
    for (const Item& item : items_) {
        if (item.kind != Item::kBytes) {
            break;
        }
        count += item.bytes.size();
    }
    return true;
}

bool FakeHostPort::Write(const uint8_t* data, size_t length) {
    std::lock_guard lock(mutex_);
    if (writeError_ != 0) {
        SetLastError(writeError_);
        return false;
    }
    writes_.emplace_back(reinterpret_cast<const char*>(data), length);
    return true;
}

bool FakeHostPort::GetModemStatus(uint32_t& status) {
    std::lock_guard lock(mutex_);
    if (!pipe_ && modemError_ == 0) {
        status = modemStatus_;
        return true;
    }
    SetLastError(modemError_ != 0 ? modemError_ : FromErrno(25));  // ENOTTY, like a pty
    return false;
}

void FakeHostPort::Wake() {
    std::lock_guard lock(mutex_);
    woken_ = true;
    changed_.notify_all();
}

std::unique_ptr<IHostPortHandle> FakeHostPortSystem::CreatePipeServer(const std::string& name) {
    if (failOpen != 0) {
        SetLastError(failOpen);
        return nullptr;
    }
    opened.push_back("pipe:" + name);
    auto port = std::make_unique<FakeHostPort>(true);
    last = port.get();
    ports_.push_back(last);
    return port;
}

std::unique_ptr<IHostPortHandle> FakeHostPortSystem::OpenSerialDevice(const std::string& path) {
    if (failOpen != 0) {
        SetLastError(failOpen);
        return nullptr;
    }
    opened.push_back("serial:" + path);
    auto port = std::make_unique<FakeHostPort>(false);
    last = port.get();
    ports_.push_back(last);
    return port;
}

std::string FakeHostPortSystem::ComDeviceName(int number) const {
    return "/dev/ttyS" + std::to_string(number - 1);
}

FakeHostPort* FakeHostPortSystem::Find(const std::string& entry) const {
    for (size_t i = opened.size(); i-- > 0;) {
        if (opened[i] == entry) {
            return ports_[i];
        }
    }
    return nullptr;
}

}  // namespace zuvo::platform::fake
