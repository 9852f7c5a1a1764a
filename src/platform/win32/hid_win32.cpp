#include "platform/win32/hid_win32.h"

// Order matters: windows.h first, then the device headers that build on it.
#include <windows.h>

#include <dbt.h>
#include <setupapi.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstring>

#include "platform/errors.h"

namespace zuvo::platform::win32 {

namespace {

// Keeps the failing call's code across the clean-up that follows it.
class SavedError {
  public:
    SavedError() : code_(::GetLastError()) {}
    ~SavedError() { ::SetLastError(code_); }

  private:
    DWORD code_;
};

class Win32HidHandle final : public IHidHandle {
  public:
    explicit Win32HidHandle(HANDLE handle) : handle_(handle) {}
    ~Win32HidHandle() override {
        ::CloseHandle(handle_);
        if (readEvent_ != nullptr) {
            ::CloseHandle(readEvent_);
        }
        if (wake_ != nullptr) {
            ::CloseHandle(wake_);
        }
    }
    Win32HidHandle(const Win32HidHandle&) = delete;
    Win32HidHandle& operator=(const Win32HidHandle&) = delete;

    // Read handles: the read event and the wake semaphore. False with the last error set.
    bool MakeReadable() {
        readEvent_ = ::CreateEventA(nullptr, TRUE, TRUE, nullptr);
        wake_ = ::CreateSemaphoreA(nullptr, 0, 0x7FFFFFFF, nullptr);
        return readEvent_ != nullptr && wake_ != nullptr;
    }

    bool GetAttributes(HidAttributes& out) override {
        HIDD_ATTRIBUTES attributes{};
        attributes.Size = sizeof attributes;
        if (!::HidD_GetAttributes(handle_, &attributes)) {
            if (::GetLastError() == 0) {
                ::SetLastError(ERROR_GEN_FAILURE);
            }
            return false;
        }
        out.vendorId = attributes.VendorID;
        out.productId = attributes.ProductID;
        out.versionNumber = attributes.VersionNumber;
        return true;
    }

    bool Write(const uint8_t* data, size_t length) override {
        DWORD written = 0;
        if (!::WriteFile(handle_, data, static_cast<DWORD>(length), &written, nullptr)) {
            return false;
        }
        if (written != length) {
            ::SetLastError(ERROR_WRITE_FAULT);
            return false;
        }
        return true;
    }

    HidReadResult Read(uint8_t* buf, size_t length) override {
        if (readEvent_ == nullptr) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return {HidReadStatus::kError, 0};
        }
        if (::WaitForSingleObject(wake_, 0) == WAIT_OBJECT_0) {
            return {HidReadStatus::kWoken, 0};
        }
        ::ResetEvent(readEvent_);
        OVERLAPPED overlapped{};
        overlapped.hEvent = readEvent_;
        DWORD got = 0;
        if (!::ReadFile(handle_, buf, static_cast<DWORD>(length), &got, &overlapped) &&
            ::GetLastError() != ERROR_IO_PENDING) {
            return {HidReadStatus::kError, 0};
        }
        // Pending or done at once: either way the read event is set on completion.
        HANDLE waits[2] = {wake_, readEvent_};
        const DWORD which = ::WaitForMultipleObjects(2, waits, FALSE, INFINITE);
        if (which == WAIT_OBJECT_0) {
            ::CancelIo(handle_);
            if (::GetOverlappedResult(handle_, &overlapped, &got, TRUE)) {
                // The report was complete before the cancel took: hand it over and keep
                // the wake for the next call.
                ::ReleaseSemaphore(wake_, 1, nullptr);
                return {HidReadStatus::kReport, got};
            }
            return {HidReadStatus::kWoken, 0};
        }
        if (which != WAIT_OBJECT_0 + 1) {
            return {HidReadStatus::kError, 0};
        }
        if (!::GetOverlappedResult(handle_, &overlapped, &got, TRUE)) {
            return {HidReadStatus::kError, 0};
        }
        return {HidReadStatus::kReport, got};
    }

    void Wake() override {
        if (wake_ != nullptr) {
            ::ReleaseSemaphore(wake_, 1, nullptr);
        }
    }

  private:
    HANDLE handle_;
    HANDLE readEvent_ = nullptr;
    HANDLE wake_ = nullptr;
};

// What a WM_DEVICECHANGE broadcast means for the link: arrival or removal complete of a
// device interface, with its path; nothing for other events and record types.
bool DeviceChangeMessage(WPARAM event, LPARAM record, Message& out) {
    if ((event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) || record == 0) {
        return false;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(record);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return false;
    }
    const auto* device = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_A*>(record);
    // The name ends at its NUL or at the end of the record, whichever comes first.
    const size_t offset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_A, dbcc_name);
    const size_t room = device->dbcc_size > offset ? device->dbcc_size - offset : 0;
    out = Message{};
    out.id = kMsgDeviceChange;
    out.wParam = static_cast<uint32_t>(event);
    out.text.assign(device->dbcc_name, ::strnlen(device->dbcc_name, room));
    return true;
}

}  // namespace

Win32HidSystem::~Win32HidSystem() {
    if (notification_ != nullptr) {
        ::UnregisterDeviceNotification(notification_);
        window_.SetHandler(WM_DEVICECHANGE, nullptr);
    }
}

std::vector<std::string> Win32HidSystem::EnumerateInterfaces() {
    std::vector<std::string> paths;
    GUID hidGuid;
    ::HidD_GetHidGuid(&hidGuid);
    HDEVINFO set =
        ::SetupDiGetClassDevsA(&hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return paths;
    }
    for (DWORD n = 0;; ++n) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInterfaces(set, nullptr, &hidGuid, n, &data)) {
            break;
        }
        DWORD size = 0;
        ::SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
            continue;
        }
        std::vector<uint8_t> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        // The size of the fixed part for this build (8 on 64-bit Windows, 5 on 32-bit).
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (::SetupDiGetDeviceInterfaceDetailA(set, &data, detail, size, nullptr, nullptr)) {
            paths.emplace_back(detail->DevicePath);
        }
    }
    const DWORD endError = ::GetLastError();
    ::SetupDiDestroyDeviceInfoList(set);
    // Running out of interfaces is how the search ends, not a failure.
    ::SetLastError(endError == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : endError);
    return paths;
}

std::unique_ptr<IHidHandle> Win32HidSystem::Open(const std::string& path, HidAccess access) {
    DWORD rights = 0;
    DWORD flags = 0;
    if (access == HidAccess::kWrite) {
        rights = GENERIC_WRITE;
    } else if (access == HidAccess::kRead) {
        rights = GENERIC_READ;
        flags = FILE_FLAG_OVERLAPPED;
    }
    HANDLE handle = ::CreateFileA(path.c_str(), rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return nullptr;
    }
    auto opened = std::make_unique<Win32HidHandle>(handle);
    if (access == HidAccess::kRead && !opened->MakeReadable()) {
        SavedError keep;
        opened.reset();
        return nullptr;
    }
    ::SetLastError(ERROR_SUCCESS);
    return opened;
}

bool Win32HidSystem::RegisterDeviceNotifications(IMessagePoster& poster) {
    if (notification_ != nullptr) {
        return true;
    }
    if (window_.Handle() == nullptr) {
        ::SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return false;
    }
    window_.SetHandler(WM_DEVICECHANGE, [&poster](WPARAM event, LPARAM record) -> LRESULT {
        Message message;
        if (DeviceChangeMessage(event, record, message)) {
            poster.Post(std::move(message));
        }
        return TRUE;
    });
    DEV_BROADCAST_DEVICEINTERFACE_A filter{};
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    ::HidD_GetHidGuid(&filter.dbcc_classguid);
    notification_ =
        ::RegisterDeviceNotificationA(window_.Handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    if (notification_ == nullptr) {
        SavedError keep;
        window_.SetHandler(WM_DEVICECHANGE, nullptr);
        return false;
    }
    ::SetLastError(ERROR_SUCCESS);
    return true;
}

}  // namespace zuvo::platform::win32
