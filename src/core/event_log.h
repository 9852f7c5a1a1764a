#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuvo {

// The event log's line operations, used by every piece of both programs. Each call builds
// one line (two for LogLastError in the interface program) and appends it. Main thread only.
class IEventLog {
  public:
    virtual ~IEventLog() = default;

    virtual void LogMessage(std::string_view text) = 0;
    // "%s 0x%.2x('%c')" when b is 0x20..0x7A, else "%s 0x%.2x".
    virtual void LogByte(std::string_view prefix, uint8_t b) = 0;
    virtual void LogBytes2(std::string_view prefix, uint8_t b1, uint8_t b2) = 0;
    virtual void LogBytes3(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) = 0;
    // "%s '%s'" with the text cut at its last character that is not CR (within the first 64
    // characters, up to the first NUL); nothing when that leaves at most one character.
    virtual void LogQuoted(std::string_view prefix, std::string_view text) = 0;
    // The prefix, then the system's text for the calling thread's last error; nothing when the
    // last error is 0. The interface program writes two lines, the utility one.
    virtual void LogLastError(std::string_view prefix) = 0;
};

// Line formatting shared by both programs' logs.
std::string FormatByteLine(std::string_view prefix, uint8_t b);
std::string FormatBytes2Line(std::string_view prefix, uint8_t b1, uint8_t b2);
std::string FormatBytes3Line(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3);
// Empty optional-like result: returns false when nothing is to be logged.
bool FormatQuotedLine(std::string_view prefix, std::string_view text, std::string& line);
// "0x%.2x" style helper for fixed log texts such as "Unknown command 0x%.2x, value 0x%.2x".
std::string Hex2(uint8_t b);

// Which verbose check box a traffic line belongs to.
enum class Verbose { kBox, kKeyer, kZuvo, kRtty };

// The four verbose check boxes, read at the moment a line is written.
class IVerbose {
  public:
    virtual ~IVerbose() = default;
    virtual bool IsVerbose(Verbose category) const = 0;
};

}  // namespace zuvo
