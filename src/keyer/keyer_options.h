#pragma once

namespace zuvo {

// The main window's check boxes that the keyer emulation reads at the moment it acts.
class IKeyerOptions {
  public:
    virtual ~IKeyerOptions() = default;
    // "Logger controls keyer": the host's weight, PTT times, pot range and keyer mode reach
    // the box.
    virtual bool LoggerControlsKeyer() const = 0;
    // "Smart keyer editing": reconcile overwrite-then-append edits under the send pointer.
    virtual bool SmartEditing() const = 0;
};

}  // namespace zuvo
