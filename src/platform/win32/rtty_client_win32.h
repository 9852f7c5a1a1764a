#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "rtty/rtty_client.h"

namespace zuvo::platform::win32 {

// An RTTY program's side of the bridge on Windows: opens the named file mapping read-only
// (OpenFileMappingA, MapViewOfFile), takes the window handle at offset 0, and posts the
// registered window message "Zuvo Box RTTY Message" to it (PostMessageA; a full message
// queue is waited out while the window exists). The interface program runs while that
// window exists (IsWindow).
class Win32RttyTransport final : public IRttyTransport {
  public:
    // Empty: the standard block name (with the tests' object suffix).
    explicit Win32RttyTransport(std::string blockName = {});
    ~Win32RttyTransport() override;
    Win32RttyTransport(const Win32RttyTransport&) = delete;
    Win32RttyTransport& operator=(const Win32RttyTransport&) = delete;

    bool Open(std::string& error) override;
    bool Send(uint32_t wParam, std::string& error) override;
    uint32_t ReadCounter(int station) const override;
    bool ProgramRunning() const override;
    void Pause() override;

    HWND Window() const { return window_; }

  private:
    uint32_t Read32(size_t offset) const;
    void Close();

    std::string blockName_;
    HANDLE mapping_ = nullptr;
    const uint8_t* view_ = nullptr;
    HWND window_ = nullptr;
    UINT message_ = 0;
};

}  // namespace zuvo::platform::win32
