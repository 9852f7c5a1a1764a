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
      keyerPort_(HostPortKind::kKeyer, hostPortSystem_, env_.queue, log_, window_, env_.settings,
                 *this),
      switchingPort_(HostPortKind::kSwitching, hostPortSystem_, env_.queue, log_, window_,
                     env_.settings, *this),
      otrsp_({link_, state_, log_, window_, env_.settings, *this, switchingPort_, *this}),
      rtty_(otrsp_, state_, link_, log_, window_, rttyChannel_, rttyChannel_, env_.queue),
      keyer_(link_, state_, keyerPort_, otrsp_, env_.settings, log_, window_, *this),
      reports_(state_, link_, log_, window_, ReportHandler::Sinks{keyer_, otrsp_, rtty_, window_}),
      controls_({window_.Model(), state_, link_, env_.settings, hostPortSystem_, env_.queue, *this,
                 [this] { EnableBoxControls(); }}) {
    window_.SetSwitchingShownHook([this] { controls_.SyncManualSwitching(); });
    keyerPort_.SetHooks(this);
    switchingPort_.SetHooks(this);
    if (!env_.sleep) {
        env_.sleep = [](std::chrono::milliseconds ms) { std::this_thread::sleep_for(ms); };
    }
}

CZuvoDlg::~CZuvoDlg() {
    keyerPort_.SetHooks(nullptr);
    switchingPort_.SetHooks(nullptr);
    keyerPort_.CloseHostPort();
    switchingPort_.CloseHostPort();
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
    controls_.ShowComDevices();
    otrsp_.LoadOptions();
    state_.ClearAtStartup();
    otrsp_.ResetRequested();
    ResetBoxView();
    link_.FindBox();
    link_.RegisterDeviceNotifications(env_.queue);
    if (!link_.IsConnectedFlag()) {
        log_.LogMessage("Zuvo Box is not connected");
    }
    controls_.OpenPortsAtStartup();
    rtty_.OpenRttyBridge();
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
        case platform::kMsgKeyerPortByte:
            keyerPort_.OnPortMessage(message);
            keyer_.OnKeyerByte(message.wParam, message.lParam);
            break;
        case platform::kMsgSwitchingPortByte:
            switchingPort_.OnPortMessage(message);
            otrsp_.OnSwitchingPortByte(message.wParam, message.lParam);
            break;
        case platform::kMsgModemStatus:
            otrsp_.OnModemStatus(static_cast<uint32_t>(message.lParam));
            break;
        case platform::kMsgRtty:
            rtty_.OnRttyMessage(message);
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
    otrsp_.ClearOnDisconnect();
    window_.ResetBoxView();
}

void CZuvoDlg::EnableBoxControls() {
    window_.EnableBoxControls();
}

void CZuvoDlg::CountSwitchingCommand() {
    otrsp_.CountBoxCommand();
}

void CZuvoDlg::OnBoxOpened() {
    EnableBoxControls();
    keyer_.ResendKeyerSettings();
    otrsp_.RequestResync();
    rtty_.ResetRttySpeedBits();
}

void CZuvoDlg::OnBoxNotConnected() {
    ResetBoxView();
}

void CZuvoDlg::OnDisconnecting() {
    otrsp_.ClearOnDisconnect();
}

void CZuvoDlg::OnDisconnected() {
    ResetBoxView();
}

int CZuvoDlg::SelectedComIndex(HostPortKind kind) const {
    return window_.Model().Selection(kind == HostPortKind::kKeyer ? kKeyerPortList : kZuvoPortList);
}

void CZuvoDlg::UncheckPortBox(HostPortKind kind) {
    controls_.OnPortOpenFailed(kind, false);
}

void CZuvoDlg::UncheckPipes() {
    controls_.OnPortOpenFailed(HostPortKind::kSwitching, true);
}

void CZuvoDlg::OnHostPortOpening(HostPortKind kind) {
    if (kind == HostPortKind::kSwitching) {
        otrsp_.OnPortOpened();
    } else {
        keyer_.OnKeyerPortOpened();
    }
}

void CZuvoDlg::OnHostPortClosed(HostPortKind kind) {
    if (kind == HostPortKind::kSwitching) {
        otrsp_.OnPortClosed();
    }
}

void CZuvoDlg::SetLatchCheck(bool on) {
    window_.Model().SetChecked(kLatch, on);
}

void CZuvoDlg::SetSplitStereoCheck(bool on) {
    window_.Model().SetChecked(kSplitStereo, on);
}

int CZuvoDlg::BlendSelection() const {
    return window_.Model().Selection(kBlendList);
}

bool CZuvoDlg::LoggerControlsKeyer() const {
    return window_.Model().Checked(kLoggerControls);
}

bool CZuvoDlg::SmartEditing() const {
    return window_.Model().Checked(kSmartEditing);
}

}  // namespace zuvo
