#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/hid.h"
#include "platform/win32/message_window.h"

namespace zuvo::platform::win32 {

// HID devices through SetupAPI and the HID library.
//
// EnumerateInterfaces: the device interface paths of the present devices of the HID
//   interface class (HidD_GetHidGuid, SetupDiGetClassDevsA with DIGCF_PRESENT |
//   DIGCF_DEVICEINTERFACE, SetupDiEnumDeviceInterfaces until it finds no more,
//   SetupDiGetDeviceInterfaceDetailA asked once for the size and once for the path,
//   SetupDiDestroyDeviceInfoList). Opens no device.
//
// Open (CreateFileA, shared for read and write, open existing):
//   kAttributes: no access rights, so any HID device (a keyboard included) can be asked
//     for its identity; kWrite: GENERIC_WRITE, synchronous; kRead: GENERIC_READ,
//     FILE_FLAG_OVERLAPPED, with the read event (manual reset, created signalled) and a wake
//     semaphore of its own.
//
// IHidHandle::GetAttributes: HidD_GetAttributes. IHidHandle::Write: one synchronous
//   WriteFile of the whole report (report ID first). IHidHandle::Read (device read thread):
//   an overlapped ReadFile of `length` bytes on the read event, waited for together with the
//   wake semaphore without a time limit; a woken read is cancelled (CancelIo, same thread)
//   and its completion collected before Read returns, so the buffer is never written
//   afterwards; a report that completed in the same instant is returned and the wake kept
//   for the next call. A failure keeps the system's code (1167 once the device is gone).
//   IHidHandle::Wake (any thread): releases the semaphore once.
//
// RegisterDeviceNotifications: RegisterDeviceNotificationA for the HID interface class with
//   the window as recipient; the window's WM_DEVICECHANGE handler posts every arrival
//   (0x8000) and removal complete (0x8004) of a device interface as kMsgDeviceChange with
//   the device's interface path, and answers every broadcast as handled. A second call
//   answers true and changes nothing. The destructor withdraws the registration and the
//   handler; the poster must outlive this object.
class Win32HidSystem final : public IHidSystem {
  public:
    explicit Win32HidSystem(MessageWindow& window) : window_(window) {}
    ~Win32HidSystem() override;
    Win32HidSystem(const Win32HidSystem&) = delete;
    Win32HidSystem& operator=(const Win32HidSystem&) = delete;

    std::vector<std::string> EnumerateInterfaces() override;
    std::unique_ptr<IHidHandle> Open(const std::string& path, HidAccess access) override;
    bool RegisterDeviceNotifications(IMessagePoster& poster) override;

  private:
    MessageWindow& window_;
    HDEVNOTIFY notification_ = nullptr;
};

}  // namespace zuvo::platform::win32
