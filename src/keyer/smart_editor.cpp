#include "keyer/smart_editor.h"

#include <algorithm>

#include "link/box_protocol.h"

namespace zuvo {

SmartEditor::SmartEditor(SendBuffer& buffer, IBoxSender& box, IEventLog& log,
                         const IVerbose& verbose, const IKeyerOptions& options)
    : buf_(buffer), box_(box), log_(log), verbose_(verbose), options_(options) {}

void SmartEditor::RememberAlternate() {
    if (!buf_.altValid) {
        buf_.altChar = buf_.At(buf_.loadPtr);
        buf_.altLoad = buf_.loadPtr;
        buf_.altValid = true;
    }
}

bool SmartEditor::TypingOverApplies() const {
    return buf_.state != kSendIdle && !buf_.editActive && buf_.sendPtr != 0 &&
           buf_.sendPtr != buf_.loadPtr && buf_.insPtr == buf_.sendPtr + 1;
}

void SmartEditor::TypeOverLoaded(uint8_t translated, uint8_t raw) {
    RememberAlternate();
    buf_.loadPtr = buf_.sendPtr + 1;
    box_.SendBoxCommand(box::kKeyerOverwrite, translated);
    if (VerboseKeyer()) {
        log_.LogByte("* KE overwriting with", raw);
        log_.LogByte("* KE edit altchar", buf_.altChar);
        log_.LogByte("* KE edit load", static_cast<uint8_t>(buf_.loadPtr));
        log_.LogByte("* KE edit alt load", static_cast<uint8_t>(buf_.altLoad));
    }
}

void SmartEditor::NullsOverLoaded(int count) {
    if (buf_.state == kSendIdle || buf_.editActive) {
        return;
    }
    if (buf_.insPtr > buf_.loadPtr || buf_.loadPtr >= buf_.insPtr + count) {
        return;
    }
    box_.SendBoxCommand(box::kKeyerOverwrite, 0);
    RememberAlternate();
    if (VerboseKeyer()) {
        log_.LogMessage("* KE overwriting with zero");
    }
}

void SmartEditor::StartEdit() {
    if (!options_.SmartEditing()) {
        return;
    }
    if (buf_.insPtr > buf_.sendPtr) {
        return;
    }
    for (int p = buf_.insPtr; p < buf_.sendPtr; ++p) {
        if (buf_.At(p) == 0) {
            return;
        }
    }
    buf_.editActive = true;
    buf_.snapshot = buf_.data;
    if (VerboseKeyer()) {
        log_.LogQuoted("* KE start magic", SendBuffer::Text(buf_.data));
    }
}

void SmartEditor::Reconcile() {
    const bool verbose = VerboseKeyer();
    if (verbose) {
        log_.LogQuoted("* KE magic time: buf", SendBuffer::Text(buf_.data));
        log_.LogQuoted("* KE magic time: magicBuf", SendBuffer::Text(buf_.snapshot));
    }
    int i = SendBuffer::Length(buf_.data);
    int j = SendBuffer::Length(buf_.snapshot);
    if (verbose) {
        log_.LogBytes2("* KE magic lengths", static_cast<uint8_t>(i), static_cast<uint8_t>(j));
    }
    // Both walks start at the terminating null; a buffer without one ends at 128, which
    // reads as a null and is never indexed.
    while (i != 0 && j != 0 && SendBuffer::At(buf_.data, i) == SendBuffer::At(buf_.snapshot, j)) {
        --i;
        --j;
    }
    if (verbose) {
        log_.LogBytes2("* KE magic same to", static_cast<uint8_t>(i), static_cast<uint8_t>(j));
        log_.LogByte("* KE magic sending", static_cast<uint8_t>(buf_.sendPtr));
    }
    buf_.editActive = false;
    if (i == j || std::min(i, j) > buf_.sendPtr) {
        return;
    }
    const int shift = i - j;
    const int newSend = buf_.sendPtr + shift;
    // An unusual edit can shift the send pointer out of the buffer; moving nothing is safer
    // than guessing where the box is.
    if (newSend < 0 || newSend >= kSendBufferSize) {
        return;
    }
    RememberAlternate();
    if (buf_.loadPtr == buf_.sendPtr) {
        buf_.sendPtr = newSend;
        buf_.loadPtr = newSend;
    } else {
        buf_.sendPtr = newSend;
        if (buf_.At(newSend + 1) != 0) {
            buf_.loadPtr = newSend + 1;
        }
    }
    const uint8_t loaded = buf_.At(buf_.loadPtr);
    if (loaded != buf_.altChar) {
        box_.SendBoxCommand(box::kKeyerOverwrite, loaded);
        if (verbose) {
            log_.LogByte("* KE magic sending", static_cast<uint8_t>(buf_.sendPtr));
            log_.LogByte("* KE magic overwriting with", loaded);
            log_.LogByte("* KE magic altchar", buf_.altChar);
            log_.LogByte("* KE magic load", static_cast<uint8_t>(buf_.loadPtr));
            log_.LogByte("* KE magic alt load", static_cast<uint8_t>(buf_.altLoad));
        }
    }
}

void SmartEditor::AlternateCheck(uint8_t character) {
    if (!buf_.altValid) {
        return;
    }
    if (character != buf_.At(buf_.loadPtr) && character == buf_.altChar) {
        buf_.loadPtr = buf_.altLoad;
    }
    buf_.altValid = false;
}

}  // namespace zuvo
