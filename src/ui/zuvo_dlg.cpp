#include "ui/zuvo_dlg.h"

#include <thread>

#include "link/box_protocol.h"
#include "ui/main_ids.h"

namespace zuvo {

using namespace ids;

CZuvoDlg::CZuvoDlg(Environment env)
    : env_(std::move(env)),
      window_(state_),
      link_(env_.hid, env_.queue, log_, state_, *this),
      reports_(state_, link_, log_, window_,
               ReportHandler::Sinks{keyerReports_, switchingReports_, rttyReports_, window_}),
      controls_({window_.Model(), state_, link_, env_.settings, env_.queue, *this,
                 [this] { EnableBoxControls(); }}) {
    window_.SetSwitchingShownHook([this] { controls_.SyncManualSwitching(); });
    if (!env_.sleep) {
        env_.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
}

CZuvoDlg::~CZuvoDlg() {
    link_.Shutdown();
}

void CZuvoDlg::LoadControlsFromSettings() {
    auto& s = env_.settings;
    auto& m = window_.Model();
    m.SetSelection(kKeyerPortList, s.ReadInt("Keyer", "Port", -1));
    m.SetSelection(kZuvoPortList, s.ReadInt("Zuvo", "Port", -1));
    m.SetChecked(kLoggerControls, s.ReadBool("Keyer", "LoggerControls", false));
    m.SetChecked(kSmartEditing, s.ReadBool("Keyer", "SmartEditing", false));
    m.SetChecked(kVerboseOutput, s.ReadBool("Box", "Verbose", false));
    m.SetChecked(kVerboseKeyer, s.ReadBool("Keyer", "Verbose", false));
    m.SetChecked(kVerboseZuvo, s.ReadBool("Zuvo", "Verbose", false));
    m.SetChecked(kVerboseRtty, s.ReadBool("RTTY", "Verbose", false));
    m.SetChecked(kZuvoPortCheck, s.ReadBool("Zuvo", "UsePort", false));
    m.SetChecked(kKeyerPortCheck, s.ReadBool("Keyer", "UsePort", false));
    m.SetChecked(kLatch, s.ReadBool("Zuvo", "LatchHeadphones", false));
    m.SetChecked(kSplitStereo, s.ReadBool("Zuvo", "SplitStereo", false));
    m.SetChecked(kPipes, s.ReadBool("Zuvo", "Auto", false));
}

void CZuvoDlg::OnInitDialog() {
    log_.OpenLogFile(env_.settings.ReadBool("Box", "LogToFile", false), env_.logFilePath);
    LoadControlsFromSettings();
    state_.ClearAtStartup();
    ResetBoxView();
    link_.FindBox();
    link_.RegisterDeviceNotifications(env_.queue);
    if (!link_.IsConnectedFlag()) {
        log_.LogMessage("Zuvo Box is not connected");
    }
    controls_.OpenPortsAtStartup();
}

void CZuvoDlg::Dispatch(const platform::Message& message) {
    switch (message.id) {
        case platform::kMsgBoxReport:
            reports_.OnBoxReportMessage(message.wParam, static_cast<uint32_t>(message.lParam),
                                        message.source);
            break;
        case platform::kMsgDeviceChange:
            link_.OnDeviceChange(message.wParam, message.text);
            break;
        case platform::kMsgClose:
            OnClose();
            break;
        default:
            break;
    }
}

void CZuvoDlg::OnClose() {
    if (closed_) {
        return;
    }
    link_.SendBoxCommand(box::kKeyerControl, box::kControlSpeedFromPot);
    env_.sleep(std::chrono::milliseconds(100));
    link_.Shutdown();
    closed_ = true;
}

void CZuvoDlg::ResetBoxView() {
    state_.ClearForDisconnectedView();
    window_.ResetBoxView();
}

void CZuvoDlg::EnableBoxControls() {
    window_.EnableBoxControls();
}

void CZuvoDlg::CountSwitchingCommand() {}

void CZuvoDlg::OnBoxOpened() {
    EnableBoxControls();
}

void CZuvoDlg::OnBoxNotConnected() {
    ResetBoxView();
}

void CZuvoDlg::OnDisconnecting() {}

void CZuvoDlg::OnDisconnected() {
    ResetBoxView();
}

}  // namespace zuvo
