#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "sim/sim_box.h"

namespace zuvo::sim {

// The box's CW keyer. It keys one character at real Morse timing (dit = 1200 / WPM ms,
// three-dit character space, seven-dit word space, weight and the buffered speed delta
// applied) while it holds the next ones the host handed over with Keyer Char. It reports
// Keyer Sending Char when a character starts, End of Character when its space is over, and
// Idle when nothing is held at that moment. Keyer Overwrite replaces the next held
// character (value 0 drops it and reports Clear); it fails (answer 1) when that character
// has already started. Tuning (Keyer Control) holds the characters back; the paddle and
// Keyer Abort drop everything. Speed, weight, delta and PTT lead come from the box's
// settings, which the box itself keeps.
//
// Transcript notes: "keyed 0xcc 'c'" when a character starts, "keyer idle", "keyer
// overwrite 0xold -> 0xnew", "keyer lost 0xcc", "keyer break-in".
class SimKeyer final : public ISimComponent {
  public:
    // Characters held behind the one being keyed; a Keyer Char beyond them is lost.
    static constexpr size_t kHeld = 2;

    // Adds the keyer to a box; the box owns it.
    static SimKeyer& Install(SimBox& box);

    // Microseconds of one character (its elements and the space after it) at wpm.
    static int64_t CharacterMicros(uint8_t character, int wpm);

    bool OnHostReport(uint8_t code, uint8_t value, SimBox& box) override;
    bool OnPaddle(SimBox& box) override;
    void OnRestart(SimBox& box) override;
    void Tick(SimBox& box) override;
    int64_t NextEventMs() const override;

    // What the keyer has started to key so far, in order.
    const std::string& Keyed() const { return keyed_; }
    // How often it ran dry (reported Idle after a character).
    int IdleCount() const { return idleCount_; }
    bool Keying() const { return keying_; }
    size_t HeldCount() const { return held_.size(); }

  private:
    struct Held {
        uint8_t character;
        int8_t delta;  // the Keyer Speed Delta in force when it arrived
    };

    void Start(SimBox& box, Held next, int64_t startUs, bool fromIdle);
    void DropAll();
    void UpdateStatus(SimBox& box) const;
    static bool Tuning(const SimBox& box);

    std::deque<Held> held_;
    bool keying_ = false;
    int64_t endUs_ = 0;          // end of the character being keyed, with its space
    int64_t paddleIdleUs_ = -1;  // the operator's paddle keying ends; -1: none
    std::string keyed_;
    int idleCount_ = 0;
};

}  // namespace zuvo::sim
