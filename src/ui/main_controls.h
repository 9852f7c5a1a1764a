#pragma once

#include "core/settings_store.h"
#include "link/box_sender.h"
#include "link/box_state.h"
#include "platform/host_port.h"
#include "platform/message_queue.h"
#include "ui/window_actions.h"
#include "ui/window_model.h"

namespace zuvo {

// What the main window's controls do: a user change arrives as OnControlChanged(id) after
// the model holds the new value, and turns into box sends, settings writes, host port
// opens and closes, or OTRSP lines posted as if the logger had sent them. Also keeps the
// manual TX/RX controls in line with the box (SyncManualSwitching). Main thread only.
class MainControls {
  public:
    struct Deps {
        WindowModel& model;
        const BoxState& state;
        IBoxSender& sender;
        SettingsStore& settings;
        const platform::IHostPortSystem& ports;  // names the device each COM number opens
        platform::IMessagePoster& poster;        // the switching port messages of manual switching
        IWindowActions& actions;
        // The connected look, applied by "Logger controls keyer" while a box is connected.
        std::function<void()> enableBoxControls;
    };

    explicit MainControls(Deps deps);

    void OnControlChanged(int id);

    // Start-up: serve the ports the saved settings ask for, switching port first.
    void OpenPortsAtStartup();

    // Shows beside each entry of both COM lists the device that number opens ([Ports] in
    // the settings, else the default). Read at start and again whenever a port is chosen,
    // so a hand-edited [Ports] section shows without a restart.
    void ShowComDevices();

    // The manual TX/RX controls follow the box's switching state and front-panel switches,
    // posting the line that makes the requested state follow a forced radio. Nothing while
    // the switching port is open.
    void SyncManualSwitching();

    // The manual controls are shown only while the switching port is closed; showing them
    // again brings them in line with the box.
    void UpdateManualSwitchingVisibility();

    // A host port could not be opened: its check box (or "Pipes") is unchecked so that the
    // window shows the truth, and "Pipes" is offered again when neither port box is checked.
    void OnPortOpenFailed(HostPortKind port, bool pipeMode);

  private:
    void SendKeyerConfigBit(int id, uint8_t bit);
    void OnPortCheck(HostPortKind port);
    void OnPortList(HostPortKind port);
    void OnPipes();
    void OnLoggerControls();
    void PostTxLine();
    void PostRxLine();
    void PostLine(const std::string& line);
    void Persist(const char* section, const char* key, int id);

    Deps d_;
};

}  // namespace zuvo
