#include "platform/win32/rtty_channel_win32.h"

#include <atomic>

#include "platform/win32/object_names.h"

namespace zuvo::platform::win32 {

Win32RttySharedBlock::Win32RttySharedBlock() : name_(ObjectName(kRttyBlockName)) {}

Win32RttySharedBlock::~Win32RttySharedBlock() {
    if (view_ != nullptr) {
        ::UnmapViewOfFile(view_);
    }
    if (mapping_ != nullptr) {
        ::CloseHandle(mapping_);
    }
}

SharedBlockOpen Win32RttySharedBlock::CreateOrOpen() {
    if (view_ != nullptr) {
        return SharedBlockOpen::kOpened;
    }
    mapping_ = ::CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                    static_cast<DWORD>(kRttyBlockSize), name_.c_str());
    if (mapping_ == nullptr) {
        return SharedBlockOpen::kFailed;
    }
    const bool existed = ::GetLastError() == ERROR_ALREADY_EXISTS;
    view_ = static_cast<uint8_t*>(
        ::MapViewOfFile(mapping_, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, kRttyBlockSize));
    if (view_ == nullptr) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(mapping_);
        mapping_ = nullptr;
        ::SetLastError(error);
        return SharedBlockOpen::kFailed;
    }
    return existed ? SharedBlockOpen::kOpened : SharedBlockOpen::kCreated;
}

void Win32RttySharedBlock::Write32(size_t offset, uint32_t value) {
    if (view_ == nullptr || offset % 4 != 0 || offset + 4 > kRttyBlockSize) {
        return;
    }
    // Aligned and atomic: an RTTY program reads the counters while they change. Windows is
    // little-endian, as the block's layout is.
    std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view_ + offset))
        .store(value, std::memory_order_release);
}

uint32_t Win32RttySharedBlock::Read32(size_t offset) const {
    if (view_ == nullptr || offset % 4 != 0 || offset + 4 > kRttyBlockSize) {
        return 0;
    }
    return std::atomic_ref<uint32_t>(*reinterpret_cast<uint32_t*>(view_ + offset))
        .load(std::memory_order_acquire);
}

Win32RttyMessageReceiver::~Win32RttyMessageReceiver() {
    if (message_ != 0) {
        window_.SetHandler(message_, nullptr);
    }
}

bool Win32RttyMessageReceiver::Register(IMessagePoster& poster) {
    if (message_ != 0) {
        return false;
    }
    if (window_.Handle() == nullptr) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    const UINT message = ::RegisterWindowMessageA(kRttyMessageName);
    if (message == 0) {
        return false;  // the system's last error says why
    }
    message_ = message;
    window_.SetHandler(message, [&poster](WPARAM wParam, LPARAM lParam) -> LRESULT {
        poster.Post(
            Message{kMsgRtty, static_cast<uint32_t>(wParam), static_cast<int32_t>(lParam), {}, 0});
        return 1;
    });
    ::ChangeWindowMessageFilterEx(window_.Handle(), message, MSGFLT_ALLOW, nullptr);
    return true;
}

uint32_t Win32RttyMessageReceiver::Target() const {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window_.Handle()));
}

}  // namespace zuvo::platform::win32
