#include "utility/utility_runner.h"

#include <algorithm>
#include <optional>

#include "link/box_link.h"
#include "link/box_protocol.h"

namespace zuvo {

using namespace utility;
using Clock = std::chrono::steady_clock;
using Stage = FirmwareUpdater::Stage;

UtilityRunner::UtilityRunner(UtilityDlg& dlg, platform::MessageQueue& queue,
                             platform::IHidSystem& hid, Printer errors,
                             std::chrono::milliseconds timeout)
    : dlg_(dlg), queue_(queue), hid_(hid), errors_(std::move(errors)), timeout_(timeout) {}

int UtilityRunner::Fail(int code, const std::string& text) {
    if (errors_) {
        errors_(text);
    }
    return code;
}

bool UtilityRunner::PumpUntil(const std::function<bool()>& pred,
                              std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (!pred()) {
        const auto now = Clock::now();
        if (now >= end || interrupted_) {
            return false;
        }
        platform::Message message;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - now);
        if (!queue_.Wait(message, std::min(left, std::chrono::milliseconds(50)))) {
            continue;
        }
        if (message.id == platform::kMsgClose || message.id == platform::kMsgQuit) {
            interrupted_ = true;
            return false;
        }
        NoteArrival(message);
        dlg_.Dispatch(message);
    }
    return true;
}

void UtilityRunner::NoteArrival(const platform::Message& message) {
    if (message.id == platform::kMsgDeviceChange && message.wParam == platform::kDeviceArrival) {
        arrivals_.push_back(message.text);
    }
}

void UtilityRunner::Drain() {
    platform::Message message;
    while (queue_.TryGet(message)) {
        if (message.id == platform::kMsgClose || message.id == platform::kMsgQuit) {
            interrupted_ = true;
            continue;
        }
        NoteArrival(message);
        dlg_.Dispatch(message);
    }
}

void UtilityRunner::Connect() {
    Drain();
    if (!interrupted_ && !dlg_.Link().IsConnectedFlag()) {
        dlg_.OnControlChanged(kConnect);
    }
}

bool UtilityRunner::WaitForProduct(uint16_t productId) {
    // The device list shows a device as soon as it is there, while its arrival notice may
    // still be on the way, and ahead of it the removal notice of the device that had the
    // same path before (on Linux the boot loader, and then the restarted box, get the hidraw
    // node the box had). Connecting before those notices are handled would take the late
    // removal for the end of the new connection, so the arrival is awaited too; where none
    // comes (no notifications), the device is taken after a grace period.
    arrivals_.clear();
    auto present = [&]() -> std::string {
        for (const std::string& path : hid_.EnumerateInterfaces()) {
            auto handle = hid_.Open(path, platform::HidAccess::kAttributes);
            platform::HidAttributes a;
            if (handle && handle->GetAttributes(a) && a.vendorId == box::kVendorId &&
                a.productId == productId) {
                return path;
            }
        }
        return {};
    };
    auto announced = [&](const std::string& path) {
        return std::any_of(arrivals_.begin(), arrivals_.end(),
                           [&](const std::string& a) { return SameDevicePath(a, path); });
    };
    const auto end = Clock::now() + timeout_;
    std::optional<Clock::time_point> seen;
    while (Clock::now() < end) {
        const std::string path = present();
        if (!path.empty()) {
            if (!seen) {
                seen = Clock::now();
            }
            if (announced(path) || Clock::now() - *seen >= kArrivalGrace) {
                return true;
            }
        }
        // Poll the devices while draining messages, so removal and arrival lines still appear.
        PumpUntil([] { return false; }, std::chrono::milliseconds(50));
        if (interrupted_) {
            return false;
        }
    }
    return false;
}

bool UtilityRunner::ConnectAndReadVersion() {
    Connect();
    if (!dlg_.Link().IsConnectedFlag() || dlg_.Link().UpdateMode()) {
        return false;
    }
    return PumpUntil([&] { return !dlg_.FirmwareVersionLine().empty(); }, timeout_);
}

int UtilityRunner::Stopped(const std::string& waitingFor, const char* boxState) {
    if (interrupted_) {
        return Fail(kInterrupted, "interrupted while waiting for " + waitingFor + boxState);
    }
    return Fail(kTimeOut, "time-out waiting for " + waitingFor + boxState);
}

int UtilityRunner::Update(const std::string& path) {
    // Check the file before the box is touched: a bad file must not leave it in its
    // boot loader. A close command (Ctrl-C) is looked for while a long file is read.
    HexImage image = ReadHexFile(path, dlg_.Model().Checked(kVerbose), [this] {
        Drain();
        return interrupted_;
    });
    if (image.cancelled || interrupted_) {
        return Fail(kInterrupted,
                    "interrupted while checking the firmware file; nothing was sent "
                    "to the box");
    }
    if (!image.ok) {
        for (const std::string& line : image.lines) {
            dlg_.Log().LogMessage(line);
        }
        return Fail(kBadFile, "the firmware file was rejected; nothing was sent to the box");
    }
    FirmwareUpdater& updater = dlg_.Updater();
    updater.UseCheckedFile(path, std::move(image));
    Connect();
    if (interrupted_) {
        return Fail(kInterrupted, "interrupted before the update; nothing was sent to the box");
    }
    if (!dlg_.Link().IsConnectedFlag()) {
        return Fail(kNoBox, "no Zuvo Box found");
    }
    if (!dlg_.Link().UpdateMode()) {
        if (!PumpUntil([&] { return !dlg_.FirmwareVersionLine().empty(); }, timeout_)) {
            return Stopped("the box to report its version");
        }
        dlg_.OnControlChanged(kUpdate);
        if (dlg_.Link().IsConnectedFlag()) {
            return Fail(kBoxLost, "the box did not take the update mode command");
        }
        if (!WaitForProduct(box::kProductBootLoader)) {
            return Stopped("the box to return in its boot loader", kInBootLoader);
        }
        Connect();
        if (interrupted_) {
            return Stopped("the boot loader", kInBootLoader);
        }
        if (!dlg_.Link().IsConnectedFlag() || !dlg_.Link().UpdateMode()) {
            return Fail(kBoxLost, "could not connect to the boot loader");
        }
    }
    dlg_.OnControlChanged(kUpdate);
    auto finished = [&] {
        const Stage s = updater.CurrentStage();
        return s == Stage::kRestarted || s == Stage::kJumper || s == Stage::kFailed ||
               !dlg_.Link().IsConnectedFlag();
    };
    if (!PumpUntil(finished, timeout_)) {
        return Stopped("the boot loader to answer", kInBootLoader);
    }
    switch (updater.CurrentStage()) {
        case Stage::kRestarted:
            break;
        case Stage::kJumper:
            return Fail(kJumper, "programming complete; remove the jumper to run the firmware");
        case Stage::kReading:
            return Fail(kBadFile, "the firmware file was rejected");
        default:
            if (!dlg_.Link().IsConnectedFlag()) {
                return Fail(kBoxLost, "the box went away during the update");
            }
            return Fail(kVerifyFailed, "verify failed; the box stays in its boot loader");
    }
    if (!WaitForProduct(box::kProductApplication)) {
        return Stopped("the box to restart into its firmware");
    }
    if (!ConnectAndReadVersion()) {
        return Stopped("the restarted box to report its version");
    }
    dlg_.OnControlChanged(kConnect);  // disconnect: leave the box as an operator would
    return kOk;
}

int UtilityRunner::Show(const Printer& out) {
    Connect();
    if (interrupted_) {
        return Fail(kInterrupted, "interrupted before connecting");
    }
    if (!dlg_.Link().IsConnectedFlag()) {
        return Fail(kNoBox, "no Zuvo Box found");
    }
    if (dlg_.Link().UpdateMode()) {
        return Fail(kBoxLost, "the box is in its boot loader: it has no settings to show");
    }
    const uint32_t expected = static_cast<uint32_t>(box::kUtilityConnectQuery.size());
    if (!PumpUntil([&] { return dlg_.ReportsSinceConnect() >= expected; }, timeout_)) {
        return Fail(interrupted_ ? kInterrupted : kTimeOut,
                    "time-out waiting for the box to answer the connect queries");
    }
    const WindowModel& m = dlg_.Model();
    auto list = [&](const char* label, int id) {
        const int sel = m.Selection(id);
        std::string value = sel < 0 ? "(none)" : m.Get(id).items[sel];
        value.erase(0, value.find_first_not_of(' '));
        out(std::string(label) + ": " + value);
    };
    auto check = [&](const char* label, int id) {
        out(std::string(label) + ": " + (m.Checked(id) ? "on" : "off"));
    };
    out(dlg_.FirmwareVersionLine());
    list("Speed", kSpeed);
    list("Keyer Type", kKeyerType);
    check("A Timing", kATiming);
    check("Tight Timing", kTightTiming);
    check("Reverse", kReverse);
    check("Long word space", kLongWordSpace);
    check("Keyer PTT", kKeyerPtt);
    check("Autospace", kAutospace);
    list("Weight", kWeight);
    list("Comp 1", kComp1);
    list("Comp 2", kComp2);
    list("Comp 3", kComp3);
    list("Comp 4", kComp4);
    list("Speed Control Min", kPotMin);
    list("Speed Control Max", kPotMax);
    list("PTT Pre (ms)", kPttPre);
    list("PTT Post (ms)", kPttPost);
    out(std::string("RX Radio: ") + (m.Checked(kRxRadio2) ? "Radio 2" : "Radio 1"));
    check("Stereo", kStereo);
    out(std::string("TX Radio: ") + (m.Checked(kTxRadio2) ? "Radio 2" : "Radio 1"));
    out("PTT: " + std::string(m.Text(kPtt) == "Stop PTT" ? "on" : "off"));
    out("Status: " + m.Text(kStatusRx) + " " + m.Text(kStatusTx));
    list("Map 1", kMap1);
    list("Map 2", kMap2);
    list("Aux 1", kAux1);
    list("Aux 2", kAux2);
    list("Aux 3", kAux3);
    list("Aux 4", kAux4);
    check("Enable FSK", kEnableFsk);
    check("Invert Radio 1", kInvert1);
    check("Invert Radio 2", kInvert2);
    check("Invert Radio 3", kInvert3);
    check("Invert Radio 4", kInvert4);
    list("Configuration", kConfiguration);
    check("Blend", kBlend);
    list("Blend level", kBlendLevel);
    check("Mic Relays", kMicRelays);
    check("TX on Aux 3", kTxOnAux3);
    dlg_.OnControlChanged(kConnect);
    return kOk;
}

}  // namespace zuvo
