#pragma once

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "platform/host_port.h"

namespace zuvo {

using platform::kCommEventClientLines;
using platform::kCommEventCts;
using platform::kCommEventDsr;
using platform::kCommEventRxChar;
using platform::kModemCtsOn;
using platform::kModemDsrOn;

// The switching host port as the OTRSP interpreter sees it. Main thread only.
class ISwitchingPort {
  public:
    virtual ~ISwitchingPort() = default;
    // One reply text to the logger (dropped, with the "(unsent)" verbose line, while a pipe
    // has no client).
    virtual void WriteSwitchingText(std::string_view text) = 0;
    // Texts that together make one line ("$" and a report), each taken as WriteSwitchingText
    // takes it. A port may send them in one write, so that the logger is woken once for the
    // line rather than once per text.
    virtual void WriteSwitchingLine(std::initializer_list<std::string_view> texts) {
        for (const std::string_view text : texts) {
            WriteSwitchingText(text);
        }
    }
    // The process-wide pipe mode flag ("Pipes").
    virtual bool PipeMode() const = 0;
    // The port's modem lines (kModemCtsOn, ...). False with the last error set when they
    // cannot be read (no port open, or a device without modem lines).
    virtual bool GetSwitchingModemStatus(uint32_t& status) = 0;
};

// What the OTRSP interpreter sets or reads in the main window.
class ISwitchingWindow {
  public:
    virtual ~ISwitchingWindow() = default;
    virtual void SetLatchCheck(bool on) = 0;        // "Latch"
    virtual void SetSplitStereoCheck(bool on) = 0;  // "Split Stereo"
    // The blend level list's selected index, -1 for none.
    virtual int BlendSelection() const = 0;
};

}  // namespace zuvo
