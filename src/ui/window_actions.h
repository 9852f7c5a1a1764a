#pragma once

#include "core/host_port_kind.h"

namespace zuvo {

// What the main window's controls ask of the other pieces: the switching logic's
// headphone settings, the keyer emulation and the host ports. The composition root
// forwards each call to the piece that owns it; the default bodies do nothing, so a
// piece that is not wired yet is simply absent. Main thread only.
class IWindowActions {
  public:
    virtual ~IWindowActions() = default;

    // Headphones, maps and options of the switching logic (each counted box send).
    virtual void SetHeadphoneMode(int /*index*/) {}
    virtual void SetBlendOn(bool /*on*/) {}
    virtual void SetMicRelays(bool /*on*/) {}
    virtual void SetBlendLevel(int /*index*/) {}
    virtual void SetMapIndex(int /*n*/, int /*index*/) {}
    virtual void SetLatchHeadphones(bool /*on*/) {}
    virtual void SetSplitStereo(bool /*on*/) {}

    // The keyer emulation takes over the logger's keyer settings.
    virtual void ApplyKeyerConfig() {}

    // Host ports: open as COM port or pipe server according to the pipe mode flag; close
    // returns after the port's read thread has ended.
    virtual bool IsHostPortOpen(HostPortKind /*port*/) const { return false; }
    virtual void OpenHostPort(HostPortKind /*port*/) {}
    virtual void CloseHostPort(HostPortKind /*port*/) {}
    virtual void SetPipeMode(bool /*on*/) {}
};

}  // namespace zuvo
