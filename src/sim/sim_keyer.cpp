#include "sim/sim_keyer.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "link/box_protocol.h"

namespace zuvo::sim {

namespace {

// Dots and dashes of each character the keyer knows; nullptr: keyed as silence.
const char* Pattern(uint8_t c) {
    if (c >= 'A' && c <= 'Z') {
        static const char* const kLetters[26] = {
            ".-",   "-...", "-.-.", "-..",  ".",   "..-.", "--.",  "....", "..",
            ".---", "-.-",  ".-..", "--",   "-.",  "---",  ".--.", "--.-", ".-.",
            "...",  "-",    "..-",  "...-", ".--", "-..-", "-.--", "--.."};
        return kLetters[c - 'A'];
    }
    if (c >= '0' && c <= '9') {
        static const char* const kDigits[10] = {"-----", ".----", "..---", "...--", "....-",
                                                ".....", "-....", "--...", "---..", "----."};
        return kDigits[c - '0'];
    }
    switch (c) {
        case '.':
            return ".-.-.-";
        case ',':
            return "--..--";
        case '?':
            return "..--..";
        case '/':
            return "-..-.";
        case '=':
            return "-...-";
        case '+':
            return ".-.-.";
        case '-':
            return "-....-";
        case '"':
            return ".-..-.";
        case '\'':
            return ".----.";
        case '@':
            return ".--.-.";
        case '$':
            return "...-..-";
        case '!':
            return "-.-.--";
        case '(':
            return "-.--.";  // KN
        case ')':
            return "-.--.-";
        case '[':
            return ".-...";  // AS
        case '*':
            return "...-.-";  // SK
        case '<':
            return ".-.-.";  // AR
        case '&':
            return ".-...";
        case '_':
            return "..--.-";
        default:
            return nullptr;
    }
}

constexpr int kWordSpaceExtra = 4;  // dits after a character's own 3-dit space

int EffectiveWpm(const SimBox& box, int8_t delta) {
    return std::clamp(box.Setting(box::kKeyerSpeed) + delta, 2, 99);
}

}  // namespace

SimKeyer& SimKeyer::Install(SimBox& box) {
    auto keyer = std::make_unique<SimKeyer>();
    SimKeyer& ref = *keyer;
    box.AddComponent(std::move(keyer));
    ref.UpdateStatus(box);
    return ref;
}

int64_t SimKeyer::CharacterMicros(uint8_t character, int wpm) {
    const int64_t dit = 1200000 / std::max(wpm, 1);
    if (character == ' ') {
        return kWordSpaceExtra * dit;
    }
    if (character == '#') {
        return dit / 2;  // the host's half space
    }
    const char* p = Pattern(character);
    if (p == nullptr) {
        return 0;
    }
    // Elements, one dit between them, three after the last. Weight moves time between a
    // mark and the space after it, so it does not change the total.
    int64_t units = 0;
    for (const char* e = p; *e != '\0'; ++e) {
        units += (*e == '-' ? 3 : 1) + 1;
    }
    return (units + 2) * dit;
}

bool SimKeyer::Tuning(const SimBox& box) {
    return (box.Setting(box::kKeyerControl) & box::kControlBitTuning) != 0;
}

void SimKeyer::UpdateStatus(SimBox& box) const {
    box.SetSetting(box::kKeyerStatus, held_.size() < kHeld ? 0x10 : 0x00);
}

bool SimKeyer::OnHostReport(uint8_t code, uint8_t value, SimBox& box) {
    switch (code) {
        case box::kKeyerChar: {
            box.SetSetting(code, value);
            const Held next{value, static_cast<int8_t>(box.Setting(box::kKeyerSpeedDelta))};
            if (!keying_ && held_.empty() && !Tuning(box)) {
                box.Emit(code, 1);
                Start(box, next, box.Now() * 1000, true);
            } else if (held_.size() < kHeld) {
                held_.push_back(next);
                box.Emit(code, held_.size() < kHeld ? 1 : 0);
            } else {
                char line[32];
                std::snprintf(line, sizeof line, "keyer lost 0x%.2x", value);
                box.Note(line);
                box.Emit(code, 0);
            }
            UpdateStatus(box);
            return true;
        }
        case box::kKeyerOverwrite: {
            box.SetSetting(code, value);
            if (held_.empty()) {
                box.Emit(code, 1);  // the character it meant has already started
                return true;
            }
            char line[48];
            std::snprintf(line, sizeof line, "keyer overwrite 0x%.2x -> 0x%.2x",
                          held_.front().character, value);
            box.Note(line);
            box.Emit(code, 0);
            if (value == 0) {
                held_.pop_front();
                // Nothing held in its place: ask the host for the next character.
                box.Emit(box::kKeyerEvent, box::kEventClear);
            } else {
                held_.front().character = value;
            }
            UpdateStatus(box);
            return true;
        }
        case box::kKeyerAbort:
            DropAll();
            UpdateStatus(box);
            return false;  // the box stores and answers it
        default:
            return false;
    }
}

bool SimKeyer::OnPaddle(SimBox& box) {
    if (keying_ || !held_.empty()) {
        box.Note("keyer break-in");
    }
    DropAll();
    UpdateStatus(box);
    // The operator keys a few elements by hand; then the keyer is idle again.
    paddleIdleUs_ = box.Now() * 1000 + 6 * (1200000 / EffectiveWpm(box, 0));
    return false;  // the box reports Paddle Pressed
}

void SimKeyer::OnRestart(SimBox& box) {
    DropAll();
    UpdateStatus(box);
}

void SimKeyer::DropAll() {
    held_.clear();
    keying_ = false;
    paddleIdleUs_ = -1;
}

void SimKeyer::Start(SimBox& box, Held next, int64_t startUs, bool fromIdle) {
    const int wpm = EffectiveWpm(box, next.delta);
    // PTT goes on before the first element when the keyer starts from idle.
    const int64_t lead = fromIdle ? box.Setting(box::kPttPreSend) * 1000 : 0;
    keying_ = true;
    endUs_ = startUs + lead + CharacterMicros(next.character, wpm);
    keyed_.push_back(static_cast<char>(next.character));
    char line[48];
    const uint8_t c = next.character;
    std::snprintf(line, sizeof line, "keyed 0x%.2x '%c' %d wpm", c, c >= 0x20 && c < 0x7F ? c : '.',
                  wpm);
    box.Note(line);
    box.Emit(box::kKeyerSendingChar, next.character);
}

void SimKeyer::Tick(SimBox& box) {
    const int64_t nowUs = box.Now() * 1000;
    for (;;) {
        if (keying_ && nowUs >= endUs_) {
            keying_ = false;
            box.Emit(box::kKeyerEvent, box::kEventEndOfCharacter);
            if (held_.empty()) {
                ++idleCount_;
                box.Note("keyer idle");
                box.Emit(box::kKeyerEvent, box::kEventIdle);
                continue;
            }
            if (!Tuning(box)) {
                // The next character follows right after this one's space.
                const Held next = held_.front();
                held_.pop_front();
                UpdateStatus(box);
                Start(box, next, endUs_, false);
            }
            continue;
        }
        if (!keying_ && !held_.empty() && !Tuning(box)) {
            const Held next = held_.front();
            held_.pop_front();
            UpdateStatus(box);
            Start(box, next, nowUs, true);
            continue;
        }
        if (paddleIdleUs_ >= 0 && nowUs >= paddleIdleUs_) {
            paddleIdleUs_ = -1;
            box.Emit(box::kKeyerEvent, box::kEventIdle);
            continue;
        }
        break;
    }
}

int64_t SimKeyer::NextEventMs() const {
    int64_t next = -1;
    if (keying_) {
        next = (endUs_ + 999) / 1000;
    }
    if (paddleIdleUs_ >= 0) {
        const int64_t t = (paddleIdleUs_ + 999) / 1000;
        next = next < 0 ? t : std::min(next, t);
    }
    return next;
}

}  // namespace zuvo::sim
