#pragma once

#include <cstdint>
#include <string>

#include "core/event_log.h"
#include "ui/window_model.h"
#include "utility/utility_ids.h"
#include "utility/utility_link.h"
#include "utility/utility_sender.h"

namespace zuvo {

// The utility's CW console: the Text line sent one character at a time, paced by the
// box's readiness, with "<" and ">" as speed changes, and the Send/Abort, Tune and PTT
// buttons. Main thread only.
class KeyerConsole {
  public:
    KeyerConsole(IUtilitySender& sender, IEventLog& log, WindowModel& model,
                 IUtilityLinkEvents& window, const utility::UtilityMirrors& mirrors);

    void OnEnter();
    void OnSendButton();
    void OnEscape();
    void OnTuneButton();
    void OnPttButton();

    // Connect: wait for the first Keyer Status before sending.
    void OnConnectQuery();
    void OnKeyerStatus(uint8_t value);
    void OnKeyerChar(uint8_t value);
    void OnSendingChar();
    void OnKeyerAbort();
    void OnKeyerControl(uint8_t value);
    void OnKeyerEvent(uint8_t value);
    // Part of resetting the controls.
    void Reset();

    void SendNextChar();

    bool Sending() const { return sending_; }
    bool Ready() const { return ready_; }
    bool TuneActive() const { return tuneActive_; }
    int SpeedDelta() const { return speedDelta_; }

  private:
    void StartSending();
    void Abort();
    bool Verbose() const { return model_.Checked(utility::kVerbose); }

    IUtilitySender& sender_;
    IEventLog& log_;
    WindowModel& model_;
    IUtilityLinkEvents& window_;
    const utility::UtilityMirrors& mirrors_;

    std::string text_;
    size_t position_ = 0;
    bool sending_ = false;
    bool ready_ = false;
    bool awaitingFirstStatus_ = false;
    bool tuneActive_ = false;
    int speedDelta_ = 0;
};

}  // namespace zuvo
