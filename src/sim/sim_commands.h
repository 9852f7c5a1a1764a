#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo::sim {

// The inputs of a simulated box that tests and the demo drive.
class ISimControls {
  public:
    virtual ~ISimControls() = default;
    virtual void Unplug() = 0;
    virtual void Replug() = 0;
    virtual void SetSwitches(uint8_t switches) = 0;
    virtual void SetPot(uint8_t wpm) = 0;
    virtual void PressPaddle() = 0;
    virtual void SetReplyDelayMs(int ms) = 0;
    virtual void SetVersion(uint8_t major, uint8_t minor, uint8_t patch, uint8_t special) = 0;
};

// One parsed control line.
struct SimCommand {
    enum class Kind { kNone, kUnplug, kReplug, kSwitches, kPot, kPaddle, kDelay, kVersion };
    Kind kind = Kind::kNone;  // kNone: blank line or comment, nothing to do
    int args[4] = {0, 0, 0, 0};
};

// Parses one control line:
//   unplug | replug | paddle | switches N (0..0x1f) | pot N (0..127) | delay MS (0..60000)
//   | version MAJOR MINOR PATCH SPECIAL (0..15 0..15 0..255 0..255)
// Numbers are decimal or 0x-hex; words are case-insensitive; blank lines and lines starting
// with '#' do nothing. Returns an empty string on success, else what is wrong.
std::string ParseSimCommand(std::string_view line, SimCommand& out);

// Parses and runs one line on the controls. Empty string on success, else the error.
std::string ExecuteSimCommand(std::string_view line, ISimControls& controls);

}  // namespace zuvo::sim
