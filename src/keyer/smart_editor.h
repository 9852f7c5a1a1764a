#pragma once

#include <cstdint>

#include "core/event_log.h"
#include "keyer/keyer_options.h"
#include "keyer/send_buffer.h"
#include "link/box_sender.h"

namespace zuvo {

// Lets the host correct text that the box already holds. The box keeps one character loaded
// ahead of the one it sends, so an edit that reaches the loaded character must replace it
// with Keyer Overwrite, and an overwrite-then-append edit that changes the length of text
// before the send pointer must move the pointers so that the box goes on in the right place.
// Works on the WinKeyer interpreter's send buffer. Main thread only.
class SmartEditor {
  public:
    SmartEditor(SendBuffer& buffer, IBoxSender& box, IEventLog& log, const IVerbose& verbose,
                const IKeyerOptions& options);

    // A text byte arrives right behind the character being sent, over the loaded one.
    bool TypingOverApplies() const;
    // `translated` goes to the box; `raw` is the byte as the host sent it, for the log.
    void TypeOverLoaded(uint8_t translated, uint8_t raw);

    // Pointer command "add nulls" (count of them), before they are stored.
    void NullsOverLoaded(int count);

    // Pointer command "overwrite", after the insertion pointer has moved.
    void StartEdit();

    // Pointer command "append" while an edit is active, after the insertion pointer moved.
    void Reconcile();

    // The box reports the character it started: if an overwrite came too late, go back to
    // the character the box really had loaded.
    void AlternateCheck(uint8_t character);

  private:
    bool VerboseKeyer() const { return verbose_.IsVerbose(zuvo::Verbose::kKeyer); }
    void RememberAlternate();

    SendBuffer& buf_;
    IBoxSender& box_;
    IEventLog& log_;
    const IVerbose& verbose_;
    const IKeyerOptions& options_;
};

}  // namespace zuvo
