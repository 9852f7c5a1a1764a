#include "utility/utility_link.h"

#include "link/box_link.h"
#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo {

UtilityLink::UtilityLink(platform::IHidSystem& hid, platform::IMessagePoster& poster,
                         IEventLog& log, IUtilityLinkEvents& events)
    : core_(hid, poster), log_(log), events_(events), poster_(poster) {}

bool UtilityLink::FindBox() {
    auto& hid = core_.Hid();
    const std::vector<std::string> paths = hid.EnumerateInterfaces();
    const uint32_t enumerationError = platform::GetLastError();
    for (const std::string& path : paths) {
        core_.device = hid.Open(path, platform::HidAccess::kAttributes);
        if (!core_.device) {
            log_.LogLastError("CreateFile: ");
            continue;
        }
        platform::HidAttributes attributes;
        if (!core_.device->GetAttributes(attributes)) {
            log_.LogLastError("HidD_GetAttributes: ");
            core_.device.reset();
            continue;
        }
        core_.SetConnected(false);
        if (attributes.vendorId == box::kVendorId &&
            (attributes.productId == box::kProductApplication ||
             attributes.productId == box::kProductBootLoader)) {
            Open(path, attributes.productId);
            break;
        }
        core_.device.reset();
    }
    // Only a failed enumeration is reported here, not an open failure already logged above.
    platform::SetLastError(enumerationError);
    log_.LogLastError("SetupDiDestroyDeviceInfoList");
    return core_.Connected();
}

bool UtilityLink::Open(const std::string& path, uint16_t productId) {
    auto& hid = core_.Hid();
    if (path != core_.DevicePath()) {
        attached_ = false;  // the attach line belongs to the remembered path
    }
    core_.SetDevicePath(path);
    updateMode_.store(productId == box::kProductBootLoader);
    if (!registered_) {
        registered_ = hid.RegisterDeviceNotifications(poster_);
    }
    core_.write.reset();  // a write handle holds the box exclusively, even against us
    core_.write = hid.Open(path, platform::HidAccess::kWrite);
    if (!core_.write) {
        if (platform::GetLastError() == platform::kErrorSharingViolation) {
            log_.LogMessage(kBoxInUseText);
        } else {
            log_.LogLastError("CreateFile: ");
        }
        core_.device.reset();
        updateMode_.store(false);
        return false;  // never marked connected: nothing counts as written unwritten
    }
    auto read = hid.Open(path, platform::HidAccess::kRead);
    if (!read) {
        log_.LogLastError("CreateFile (ReadHandle): ");
        core_.device.reset();
        core_.write.reset();
        updateMode_.store(false);
        return false;
    }
    core_.SetConnected(true);
    core_.StartReadThread(std::move(read), &updateMode_, &lastReport_);
    return true;
}

void UtilityLink::ConnectFirst() {
    log_.LogMessage("Connect to Zuvo Box first!");
    events_.ResetControls();
    events_.RefreshControls();
}

bool UtilityLink::SendBoxCommand(int code, int value) {
    if (!core_.Connected()) {
        ConnectFirst();
        return false;
    }
    if (updateMode_.load()) {
        log_.LogMessage("Command not allowed in firmware update mode");
        events_.ResetControls();
        return false;
    }
    const uint8_t report[box::kReportSize] = {0, static_cast<uint8_t>(code),
                                              static_cast<uint8_t>(value)};
    return Write(report, sizeof report);
}

bool UtilityLink::WriteBootReport(const BootReport& report) {
    if (!core_.Connected()) {
        ConnectFirst();
        return false;
    }
    return Write(report.data(), report.size());
}

bool UtilityLink::Write(const uint8_t* data, size_t length) {
    if (core_.WriteReport(data, length)) {
        return true;  // a stale last error after a good write is not a failure
    }
    log_.LogLastError("WriteFile: ");
    log_.LogMessage("Can't write to device");
    DisconnectBox();
    return false;
}

void UtilityLink::DisconnectBox() {
    core_.SetConnected(false);
    updateMode_.store(false);
    core_.CloseHandles();
    events_.ResetControls();
}

void UtilityLink::OnDeviceChange(uint32_t event, const std::string& path) {
    if (core_.DevicePath().empty() || !SameDevicePath(path, core_.DevicePath())) {
        return;
    }
    if (event == platform::kDeviceArrival) {
        if (!attached_) {
            log_.LogMessage("Device attached.");
            attached_ = true;
        }
    } else if (event == platform::kDeviceRemoveComplete) {
        if (attached_) {
            log_.LogMessage("Device removed.");
            attached_ = false;
        }
        if (core_.Connected()) {
            DisconnectBox();
        }
    }
}

void UtilityLink::OnReadError(uint32_t code, uint32_t source) {
    // A late error of an earlier connection must not end the current one.
    if (!core_.Connected() || source != core_.Generation()) {
        return;
    }
    platform::SetLastError(code);
    if (code != platform::kErrorDeviceNotConnected) {
        log_.LogLastError("Read Thread: ");
    }
    DisconnectBox();
}

void UtilityLink::Shutdown() {
    core_.SetConnected(false);
    updateMode_.store(false);
    core_.CloseHandles();
}

}  // namespace zuvo
