#pragma once

#include <windows.h>

#include <string>

#include "platform/rtty_channel.h"
#include "platform/win32/message_window.h"

namespace zuvo::platform::win32 {

// The shared block as the named file mapping "Zuvo Box Shared Memory" (with the tests'
// object suffix): 4096 bytes backed by the paging file, created or opened with
// CreateFileMappingA and mapped for writing. kOpened when the system reports that it
// existed (an RTTY program still holds it from an earlier run), kCreated otherwise. The
// mapping lives until this object is destroyed; nothing in it is cleared.
class Win32RttySharedBlock final : public IRttySharedBlock {
  public:
    Win32RttySharedBlock();
    explicit Win32RttySharedBlock(std::string name) : name_(std::move(name)) {}
    ~Win32RttySharedBlock() override;
    Win32RttySharedBlock(const Win32RttySharedBlock&) = delete;
    Win32RttySharedBlock& operator=(const Win32RttySharedBlock&) = delete;

    SharedBlockOpen CreateOrOpen() override;
    bool IsOpen() const override { return view_ != nullptr; }
    void Write32(size_t offset, uint32_t value) override;
    uint32_t Read32(size_t offset) const override;

  private:
    std::string name_;
    HANDLE mapping_ = nullptr;
    uint8_t* view_ = nullptr;
};

// The registered window message "Zuvo Box RTTY Message", delivered to the window: each one
// is posted as Message{kMsgRtty, wParam (its low 32 bits), lParam} and answered with 1. The
// message is also let through the window's message filter, so an RTTY program that runs
// without elevation reaches an elevated interface program. Target() is the window handle;
// a handle's low 32 bits identify it on 64-bit Windows, and readers sign-extend them.
class Win32RttyMessageReceiver final : public IRttyMessageReceiver {
  public:
    explicit Win32RttyMessageReceiver(MessageWindow& window) : window_(window) {}
    ~Win32RttyMessageReceiver() override;
    Win32RttyMessageReceiver(const Win32RttyMessageReceiver&) = delete;
    Win32RttyMessageReceiver& operator=(const Win32RttyMessageReceiver&) = delete;

    bool Register(IMessagePoster& poster) override;
    uint32_t Target() const override;

  private:
    MessageWindow& window_;
    UINT message_ = 0;
};

}  // namespace zuvo::platform::win32
