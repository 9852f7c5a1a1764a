#include "utility/utility_log.h"

#include <algorithm>

#include "platform/errors.h"

namespace zuvo {

void UtilityLog::Append(std::string line) {
    lines_.push_back(std::move(line));
    if (observer_) {
        observer_(lines_.back());
    }
}

void UtilityLog::LogMessage(std::string_view text) {
    Append(std::string(text));
}

void UtilityLog::LogByte(std::string_view prefix, uint8_t b) {
    Append(FormatByteLine(prefix, b));
}

void UtilityLog::LogBytes2(std::string_view prefix, uint8_t b1, uint8_t b2) {
    Append(FormatBytes2Line(prefix, b1, b2));
}

void UtilityLog::LogBytes3(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) {
    Append(FormatBytes3Line(prefix, b1, b2, b3));
}

void UtilityLog::LogQuoted(std::string_view prefix, std::string_view text) {
    std::string line;
    if (FormatQuotedLine(prefix, text, line)) {
        Append(std::move(line));
    }
}

void UtilityLog::LogLastError(std::string_view prefix) {
    const uint32_t code = platform::GetLastError();
    if (code == 0) {
        return;
    }
    std::string line(prefix);
    line += platform::SystemErrorText(code);
    Append(std::move(line));
}

bool UtilityLog::Contains(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

}  // namespace zuvo
