#include "link/box_link.h"

#include <algorithm>
#include <cctype>

#include "link/box_protocol.h"
#include "platform/errors.h"

namespace zuvo {

namespace {
// Connect-query codes whose answers are counted switching reports.
bool IsCountedQuery(uint8_t code) {
    switch (code) {
        case box::kZuvoConfig:
        case box::kZuvoBlend:
        case box::kZuvoState:
        case box::kZuvoMap1:
        case box::kZuvoMap2:
        case box::kAux1:
        case box::kAux2:
        case box::kAux3:
        case box::kAux4:
            return true;
        default:
            return false;
    }
}
}  // namespace

bool SameDevicePath(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

BoxLink::BoxLink(platform::IHidSystem& hid, platform::IMessagePoster& poster, IEventLog& log,
                 BoxState& state, ILinkEvents& events)
    : core_(hid, poster), log_(log), state_(state), events_(events) {}

void BoxLink::FindBox() {
    core_.device.reset();
    const std::vector<std::string> paths = core_.Hid().EnumerateInterfaces();
    const uint32_t enumerationError = platform::GetLastError();
    for (const std::string& path : paths) {
        OpenBox(path);
        if (core_.Connected()) {
            break;
        }
    }
    // Only a failure of the device list itself is reported here; an open failure has been
    // logged with its own step already and is not repeated under the list's name.
    platform::SetLastError(enumerationError);
    log_.LogLastError("SetupDiDestroyDeviceInfoList");
}

bool BoxLink::OpenBox(const std::string& path) {
    auto& hid = core_.Hid();
    core_.device = hid.Open(path, platform::HidAccess::kAttributes);
    if (!core_.device) {
        log_.LogLastError("CreateFile(DeviceHandle): ");
        return false;
    }
    platform::HidAttributes attributes;
    if (!core_.device->GetAttributes(attributes)) {
        log_.LogLastError("HidD_GetAttributes: ");
        core_.device.reset();
        return false;
    }
    if (attributes.vendorId != box::kVendorId || attributes.productId != box::kProductApplication) {
        core_.device.reset();
        return false;
    }
    core_.SetConnected(true);
    core_.SetDevicePath(path);

    core_.write.reset();  // a write handle holds the box exclusively, even against us
    core_.write = hid.Open(path, platform::HidAccess::kWrite);
    if (!core_.write) {
        if (platform::GetLastError() == platform::kErrorSharingViolation) {
            log_.LogMessage(kBoxInUseText);
        } else {
            log_.LogLastError("CreateFile(WriteHandle): ");
        }
        core_.device.reset();
        core_.SetConnected(false);  // nothing may count as written without a write handle
        return false;
    }
    auto read = hid.Open(path, platform::HidAccess::kRead);
    if (!read) {
        log_.LogLastError("CreateFile(ReadHandle): ");
        core_.device.reset();
        core_.write.reset();
        core_.SetConnected(false);
        return false;
    }
    core_.StartReadThread(std::move(read));
    state_.initialQuery = true;

    for (uint8_t code : box::kInterfaceConnectQuery) {
        if (!SendBoxCommand(box::kQuery, code)) {
            return false;  // the failed write has disconnected; the rest would only be refused
        }
        if (IsCountedQuery(code)) {
            events_.CountSwitchingCommand();
        }
    }
    events_.OnBoxOpened();
    return true;
}

bool BoxLink::IsBoxConnected() {
    if (core_.Connected()) {
        return true;
    }
    log_.LogMessage("Zuvo Box is not connected");
    events_.OnBoxNotConnected();
    return false;
}

bool BoxLink::SendBoxCommand(int code, int value) {
    if (!IsBoxConnected()) {
        return false;
    }
    const uint8_t report[box::kReportSize] = {0, static_cast<uint8_t>(code),
                                              static_cast<uint8_t>(value)};
    if (!core_.WriteReport(report, sizeof report)) {
        log_.LogLastError("WriteFile: ");
        log_.LogMessage("Can't write to device");
        DisconnectBox();
        return false;
    }
    return true;
}

void BoxLink::DisconnectBox() {
    events_.OnDisconnecting();
    core_.SetConnected(false);
    core_.CloseHandles();
    events_.OnDisconnected();
    log_.LogMessage("Zuvo Box has been disconnected");
}

void BoxLink::OnDeviceChange(uint32_t event, const std::string& path) {
    if (event == platform::kDeviceRemoveComplete) {
        if (core_.Connected() && SameDevicePath(path, core_.DevicePath())) {
            DisconnectBox();
        }
    } else if (event == platform::kDeviceArrival) {
        if (!core_.Connected()) {
            OpenBox(path);
        }
    }
}

void BoxLink::OnReadError(uint32_t code, uint32_t source) {
    // An error from a connection that has already ended (its removal was handled first)
    // must not disconnect again, nor end a newer connection.
    if (!core_.Connected() || source != core_.Generation()) {
        return;
    }
    platform::SetLastError(code);
    if (code != platform::kErrorDeviceNotConnected) {
        log_.LogLastError("Read Thread: ");
    }
    DisconnectBox();
}

bool BoxLink::RegisterDeviceNotifications(platform::IMessagePoster& poster) {
    return core_.Hid().RegisterDeviceNotifications(poster);
}

void BoxLink::Shutdown() {
    core_.SetConnected(false);
    core_.CloseHandles();
}

}  // namespace zuvo
