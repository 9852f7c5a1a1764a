#pragma once

#include <cstdint>
#include <optional>

#include "sim/sim_box.h"

namespace zuvo::sim {

// The box's FSK keyer. It holds one character while it keys another (one start bit, 5..8
// data bits, 1, 1.5 or 2 stop bits at the speed the last RTTY Speed Bits chose) and reports
// RTTY Status whenever that changes: bit 0 while the holding place is free, bit 1 while
// nothing is left to key. A character that arrives while both places are taken is lost.
class SimFsk final : public ISimComponent {
  public:
    static constexpr uint8_t kReady = 0x01;
    static constexpr uint8_t kFinished = 0x02;

    // Adds the keyer to a box and shows it idle.
    static void Install(SimBox& box);

    // Microseconds one character takes with the given RTTY Speed Bits.
    static int64_t CharacterMicros(uint8_t speedBits);

    bool OnHostReport(uint8_t code, uint8_t value, SimBox& box) override;
    void OnRestart(SimBox& box) override;
    void Tick(SimBox& box) override;
    int64_t NextEventMs() const override;

    uint8_t Status() const;

  private:
    void StartKeying(SimBox& box, uint8_t character, int64_t startUs);
    void ReportStatus(SimBox& box);

    std::optional<uint8_t> holding_;
    std::optional<uint8_t> keying_;
    int64_t keyingEndUs_ = 0;
    uint8_t reported_ = kReady | kFinished;
};

}  // namespace zuvo::sim
