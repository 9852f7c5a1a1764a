#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "core/dialog_host.h"
#include "core/host_port.h"
#include "core/settings_store.h"
#include "keyer/keyer_options.h"
#include "keyer/winkeyer.h"
#include "link/box_link.h"
#include "link/box_state.h"
#include "link/report_handler.h"
#include "link/report_sinks.h"
#include "platform/hid.h"
#include "platform/message_queue.h"
#include "platform/rtty_channel.h"
#include "rtty/rtty_bridge.h"
#include "rtty/rtty_speed_bits.h"
#include "switching/otrsp_interpreter.h"
#include "switching/switching_port.h"
#include "ui/event_log.h"
#include "ui/main_controls.h"
#include "ui/main_window.h"
#include "ui/window_actions.h"

namespace zuvo {

// The interface program's main dialog: the composition root. It owns every piece, wires
// them together through their interfaces and dispatches the posted messages to them. The
// logic lives in the pieces.
class CZuvoDlg final : public ILinkEvents,
                       public IWindowActions,
                       public IHostPortWindow,
                       public IHostPortHooks,
                       public ISwitchingWindow,
                       public IRttySpeedBits,
                       public IKeyerOptions {
  public:
    struct Environment {
        platform::IHidSystem& hid;
        platform::MessageQueue& queue;
        SettingsStore& settings;
        IDialogHost& dialogs;
        std::string logFilePath;  // the event log file beside the settings file
        // The pause after the closing Keyer Control; tests may shorten it.
        std::function<void(std::chrono::milliseconds)> sleep;
    };

    explicit CZuvoDlg(Environment env);
    ~CZuvoDlg() override;

    // The dialog's initialisation: the whole start-up sequence, in order.
    void OnInitDialog();
    // One posted message, on the main thread.
    void Dispatch(const platform::Message& message);
    // The window's close command: Keyer Control 8, 100 ms, then every thread is stopped.
    void OnClose();
    bool Closed() const { return closed_; }
    // Enter and Escape do nothing in this window: only the close command closes it.
    enum class DialogKey { kEnter, kEscape };
    void OnDialogKey(DialogKey) {}
    // A user change of control id; the window model already holds the new value.
    void OnControlChanged(int id) { controls_.OnControlChanged(id); }

    EventLog& Log() { return log_; }
    MainWindow& Window() { return window_; }
    MainControls& Controls() { return controls_; }
    BoxState& State() { return state_; }
    BoxLink& Link() { return link_; }
    OtrspInterpreter& Otrsp() { return otrsp_; }
    WinKeyer& Keyer() { return keyer_; }
    HostPort& Port(HostPortKind kind) {
        return kind == HostPortKind::kKeyer ? keyerPort_ : switchingPort_;
    }
    // The platform's host ports (COM devices, pipe servers); set before OnInitDialog.
    void SetHostPortSystem(platform::IHostPortSystem& system) { hostPortSystem_.Set(&system); }
    // The RTTY bridge's shared block and message; set before OnInitDialog (without them the
    // bridge runs unreachable).
    void SetRttyChannel(platform::IRttySharedBlock& block,
                        platform::IRttyMessageReceiver& receiver) {
        rttyChannel_.Set(&block, &receiver);
    }
    RttyBridge& Rtty() { return rtty_; }

    // The disconnected look: box state fields, the switching counters and PTT sources, and
    // the window.
    void ResetBoxView();
    void EnableBoxControls();

    // ILinkEvents
    void CountSwitchingCommand() override;
    void OnBoxOpened() override;
    void OnBoxNotConnected() override;
    void OnDisconnecting() override;
    void OnDisconnected() override;

    // IWindowActions: the switching logic's settings and the host ports.
    void SetHeadphoneMode(int index) override { otrsp_.SetHeadphoneMode(index); }
    void SetBlendOn(bool on) override { otrsp_.SetBlendOn(on); }
    void SetMicRelays(bool on) override { otrsp_.SetMicRelays(on); }
    void SetBlendLevel(int index) override { otrsp_.SetBlendLevel(index); }
    void SetMapIndex(int n, int index) override { otrsp_.SetMapIndex(n, index); }
    void SetLatchHeadphones(bool on) override { otrsp_.SetLatchHeadphones(on); }
    void SetSplitStereo(bool on) override { otrsp_.SetSplitStereo(on); }
    void ApplyKeyerConfig() override { keyer_.ApplyKeyerConfig(); }
    bool IsHostPortOpen(HostPortKind port) const override {
        return (port == HostPortKind::kKeyer ? keyerPort_ : switchingPort_).IsRunning();
    }
    void OpenHostPort(HostPortKind port) override { Port(port).OpenHostPort(); }
    void CloseHostPort(HostPortKind port) override { Port(port).CloseHostPort(); }
    void SetPipeMode(bool on) override { pipeMode_ = on; }

    // IHostPortWindow
    bool PipeMode() const override { return pipeMode_; }
    int SelectedComIndex(HostPortKind kind) const override;
    void UncheckPortBox(HostPortKind kind) override;
    void UncheckPipes() override;

    // IHostPortHooks
    void OnHostPortOpening(HostPortKind kind) override;
    void OnHostPortClosed(HostPortKind kind) override;

    // ISwitchingWindow
    void SetLatchCheck(bool on) override;
    void SetSplitStereoCheck(bool on) override;
    int BlendSelection() const override;

    // IKeyerOptions
    bool LoggerControlsKeyer() const override;
    bool SmartEditing() const override;

    // IRttySpeedBits, for the OTRSP interpreter (built before the bridge)
    void SendRttySpeedBits() override { rtty_.SendRttySpeedBits(); }
    void ResetRttySpeedBits() override { rtty_.ResetRttySpeedBits(); }

  private:
    void LoadControlsFromSettings();

    Environment env_;
    EventLog log_;
    BoxState state_;
    MainWindow window_;
    BoxLink link_;

    bool pipeMode_ = false;  // the process-wide pipe mode flag ("Pipes")
    HostPortSystemSlot hostPortSystem_;
    HostPort keyerPort_;
    HostPort switchingPort_;
    OtrspInterpreter otrsp_;
    platform::RttyChannelSlot rttyChannel_;
    RttyBridge rtty_;
    WinKeyer keyer_;

    ReportHandler reports_;
    MainControls controls_;
    bool closed_ = false;
};

}  // namespace zuvo
