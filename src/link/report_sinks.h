#pragma once

#include <cstdint>

// What the report handler tells the pieces that react to box reports. Each is called on the
// main thread after the box state holds the new value. The default bodies do nothing, so a
// piece that is not built yet can be left out.
namespace zuvo {

class IKeyerReports {
  public:
    virtual ~IKeyerReports() = default;
    virtual void OnBoxKeyerControl() {}
    virtual void OnBoxKeyerAbort(uint8_t /*value*/) {}
    virtual void OnBoxKeyerEvent(uint8_t /*type*/) {}
    // True when the keyer emulation took the pot speed; false makes the handler send Keyer
    // Speed with it.
    virtual bool OnBoxPotSpeed(uint8_t /*speed*/) { return false; }
    virtual void OnBoxSendingChar(uint8_t /*character*/) {}
};

class ISwitchingReports {
  public:
    virtual ~ISwitchingReports() = default;
    // One counted switching report arrived: pending box replies - 1, replies received + 1.
    virtual void CountBoxReply() {}
    virtual void ProcessDeferredCommands() {}
    virtual void OnSwitchingStateReport() {}
    virtual void ReportSwitchingChanges() {}
};

class IRttyReports {
  public:
    virtual ~IRttyReports() = default;
    virtual void CheckRttyStation() {}
    virtual void OnRttyStatusReport(uint8_t /*value*/) {}
};

// The main window as the report handler sees it: the controls and texts it sets. The view
// also computes the status texts (ShowSpeed, ShowSwitchingStatus).
class IBoxView {
  public:
    virtual ~IBoxView() = default;
    virtual void ShowSpeed() {}
    virtual void ShowSwitchingStatus() {}
    virtual void ShowKeyerConfig(uint8_t /*value*/) {}   // check boxes and mode buttons
    virtual void ShowKeyerConfig2(uint8_t /*value*/) {}  // "Autospace"
    virtual void ShowTune(bool /*on*/) {}                // Tune text
    virtual void SelectPttPre(int /*index*/) {}
    virtual void SelectPttPost(int /*index*/) {}
    virtual void SelectWeight(int /*index*/) {}
    virtual void SelectPotMin(int /*index*/) {}  // value - 2; out of range: no selection
    virtual void SelectPotMax(int /*index*/) {}
    virtual void ShowAux(int /*n*/, uint8_t /*value*/) {}  // n = 1..4
    virtual void ShowZuvoConfig(uint8_t /*value*/) {}
    virtual void SelectBlend(int /*index*/) {}
    virtual void SelectMap(int /*n*/, int /*index*/) {}  // n = 1, 2
    virtual void Refresh() {}
};

// What the link tells the rest of the interface program when a box comes and goes.
class ILinkEvents {
  public:
    virtual ~ILinkEvents() = default;
    // One connect-query Query whose answer is a counted switching report went out.
    virtual void CountSwitchingCommand() {}
    // After the connect query: enable the box controls, resend the keyer settings, request
    // the switching resynchronisation, forget the RTTY speed bits.
    virtual void OnBoxOpened() {}
    // A send found no box ("Zuvo Box is not connected" is logged): the disconnected view.
    virtual void OnBoxNotConnected() {}
    // First step of the disconnect sequence: discard the deferred switching commands.
    virtual void OnDisconnecting() {}
    // The disconnected view, before "Zuvo Box has been disconnected" is logged.
    virtual void OnDisconnected() {}
};

}  // namespace zuvo
