#include "utility/keyer_console.h"

#include "link/box_protocol.h"

namespace zuvo {

using namespace utility;

KeyerConsole::KeyerConsole(IUtilitySender& sender, IEventLog& log, WindowModel& model,
                           IUtilityLinkEvents& window, const UtilityMirrors& mirrors)
    : sender_(sender), log_(log), model_(model), window_(window), mirrors_(mirrors) {}

void KeyerConsole::StartSending() {
    text_ = model_.Text(kText);
    if (text_.empty()) {
        return;
    }
    model_.SetText(kSend, "Abort");
    sending_ = true;
    position_ = 0;
    speedDelta_ = 0;
    SendNextChar();
}

void KeyerConsole::Abort() {
    sender_.SendBoxCommand(box::kKeyerAbort, 0);
    text_.clear();
    position_ = 0;
}

void KeyerConsole::OnEnter() {
    if (!sender_.IsConnectedFlag() || sender_.UpdateMode() || sending_) {
        return;
    }
    StartSending();
}

void KeyerConsole::OnSendButton() {
    if (!sender_.IsConnectedFlag() || sender_.UpdateMode()) {
        // The link's refusal: connect-first or update-mode handling, nothing sent.
        sender_.SendBoxCommand(box::kKeyerAbort, 0);
        return;
    }
    if (sending_) {
        Abort();  // the caption stays "Abort" until the box reports the abort
    } else {
        StartSending();
    }
}

void KeyerConsole::OnEscape() {
    if (sender_.IsConnectedFlag() && !sender_.UpdateMode() && sending_) {
        Abort();
    }
}

void KeyerConsole::OnTuneButton() {
    sender_.SendBoxCommand(box::kKeyerControl,
                           tuneActive_ ? box::kControlTuneOff : box::kControlTuneOn);
}

void KeyerConsole::OnPttButton() {
    sender_.SendBoxCommand(box::kZuvoState, mirrors_.zuvoState ^ box::kStatePtt);
}

void KeyerConsole::SendNextChar() {
    if (!sending_ || !ready_) {
        return;
    }
    while (position_ < text_.size()) {
        const auto c = static_cast<uint8_t>(text_[position_++]);
        if (c == '<' || c == '>') {
            speedDelta_ += c == '<' ? 2 : -2;
            const auto delta = static_cast<uint8_t>(speedDelta_);
            if (Verbose()) {
                log_.LogByte("* Sending delta", delta);
            }
            sender_.SendBoxCommand(box::kKeyerSpeedDelta, delta);
            continue;
        }
        const uint8_t out = c >= 'a' && c <= 'z' ? static_cast<uint8_t>(c - 'a' + 'A') : c;
        if (Verbose()) {
            log_.LogByte("* Sending character", out);
        }
        sender_.SendBoxCommand(box::kKeyerChar, out);
        ready_ = false;
        return;
    }
}

void KeyerConsole::OnConnectQuery() {
    awaitingFirstStatus_ = true;
    ready_ = false;
}

void KeyerConsole::OnKeyerStatus(uint8_t value) {
    if (!awaitingFirstStatus_) {
        return;
    }
    ready_ = (value & 0x10) != 0;
    awaitingFirstStatus_ = false;
    SendNextChar();
}

void KeyerConsole::OnKeyerChar(uint8_t value) {
    if (value == 1) {
        ready_ = true;
        SendNextChar();
    }
}

void KeyerConsole::OnSendingChar() {
    if (!awaitingFirstStatus_) {
        ready_ = true;
        SendNextChar();
    }
}

void KeyerConsole::OnKeyerAbort() {
    model_.SetText(kTune, "Tune");
    model_.SetText(kSend, "Send");
    sending_ = false;
    tuneActive_ = false;
    ready_ = true;
    window_.RefreshControls();
}

void KeyerConsole::OnKeyerControl(uint8_t value) {
    tuneActive_ = (value & box::kControlBitTuning) != 0;
    model_.SetText(kTune, tuneActive_ ? "Stop Tune" : "Tune");
    window_.RefreshControls();
}

void KeyerConsole::OnKeyerEvent(uint8_t value) {
    const bool verbose = Verbose();
    switch (value) {
        case box::kEventNone:
            break;
        case box::kEventEndOfCharacter:
            if (verbose) {
                log_.LogMessage("*    Event: End of Character");
            }
            break;
        case box::kEventIdle:
            if (verbose) {
                log_.LogMessage("*    Event: Idle");
            }
            if (sending_) {
                model_.SetText(kSend, "Send");
                speedDelta_ = 0;
            }
            sending_ = false;
            ready_ = true;
            break;
        case box::kEventClear:
            if (verbose) {
                log_.LogMessage("*    Event: Clear");
            }
            break;
        case box::kEventPaddlePressed:
            if (verbose) {
                log_.LogMessage("*    Event: Paddle Pressed");
            }
            ready_ = true;
            tuneActive_ = false;
            speedDelta_ = 0;
            model_.SetText(kTune, "Tune");
            model_.SetText(kSend, "Send");
            window_.RefreshControls();
            sending_ = false;
            break;
        default:
            log_.LogMessage("Unknown event " + Hex2(value));
            break;
    }
}

void KeyerConsole::Reset() {
    ready_ = false;
    sending_ = false;
}

}  // namespace zuvo
