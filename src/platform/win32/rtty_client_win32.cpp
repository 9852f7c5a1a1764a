#include "platform/win32/rtty_client_win32.h"

#include <atomic>

#include "platform/errors.h"
#include "platform/rtty_channel.h"
#include "platform/win32/object_names.h"

namespace zuvo::platform::win32 {

namespace {
constexpr char kNotRunning[] = "no Zuvo Box interface program is running";
}  // namespace

Win32RttyTransport::Win32RttyTransport(std::string blockName)
    : blockName_(blockName.empty() ? ObjectName(kRttyBlockName) : std::move(blockName)) {}

Win32RttyTransport::~Win32RttyTransport() {
    Close();
}

void Win32RttyTransport::Close() {
    if (view_ != nullptr) {
        ::UnmapViewOfFile(view_);
        view_ = nullptr;
    }
    if (mapping_ != nullptr) {
        ::CloseHandle(mapping_);
        mapping_ = nullptr;
    }
    window_ = nullptr;
}

bool Win32RttyTransport::Open(std::string& error) {
    Close();
    mapping_ = ::OpenFileMappingA(FILE_MAP_READ, FALSE, blockName_.c_str());
    if (mapping_ == nullptr) {
        error = std::string(kNotRunning) + " (no shared block \"" + blockName_ +
                "\": " + SystemErrorText(::GetLastError()) + ")";
        return false;
    }
    view_ =
        static_cast<const uint8_t*>(::MapViewOfFile(mapping_, FILE_MAP_READ, 0, 0, kRttyBlockSize));
    if (view_ == nullptr) {
        error = "cannot map the shared block \"" + blockName_ +
                "\": " + SystemErrorText(::GetLastError());
        Close();
        return false;
    }
    // Handles are 32-bit values that 64-bit Windows sign-extends.
    const uint32_t target = Read32(kRttyOffsetTarget);
    window_ = reinterpret_cast<HWND>(static_cast<intptr_t>(static_cast<int32_t>(target)));
    if (Read32(kRttyOffsetMarker) != 1 || !::IsWindow(window_)) {
        error = std::string(kNotRunning) + " (the shared block names window " +
                std::to_string(target) + ", which is gone)";
        Close();
        return false;
    }
    message_ = ::RegisterWindowMessageA(kRttyMessageName);
    if (message_ == 0) {
        error = "RegisterWindowMessage: " + SystemErrorText(::GetLastError());
        Close();
        return false;
    }
    return true;
}

bool Win32RttyTransport::Send(uint32_t wParam, std::string& error) {
    if (window_ == nullptr) {
        error = kNotRunning;
        return false;
    }
    for (;;) {
        if (::PostMessageA(window_, message_, wParam, 0)) {
            return true;
        }
        const DWORD code = ::GetLastError();
        // A full message queue: the interface program is behind; wait for it.
        if (code == ERROR_NOT_ENOUGH_QUOTA && ProgramRunning()) {
            Pause();
            continue;
        }
        if (!ProgramRunning()) {
            error = std::string(kNotRunning) + " (its window is gone)";
        } else {
            error = "sending the RTTY message: " + SystemErrorText(code);
        }
        return false;
    }
}

uint32_t Win32RttyTransport::Read32(size_t offset) const {
    if (view_ == nullptr) {
        return 0;
    }
    // A load never writes, so the read-only view is fine for it.
    auto* field = const_cast<uint32_t*>(reinterpret_cast<const uint32_t*>(view_ + offset));
    return std::atomic_ref<uint32_t>(*field).load(std::memory_order_acquire);
}

uint32_t Win32RttyTransport::ReadCounter(int station) const {
    if (station < 1 || station > 4) {
        return 0;
    }
    return Read32(RttyCounterOffset(station));
}

bool Win32RttyTransport::ProgramRunning() const {
    return window_ != nullptr && ::IsWindow(window_);
}

void Win32RttyTransport::Pause() {
    ::Sleep(1);
}

}  // namespace zuvo::platform::win32
