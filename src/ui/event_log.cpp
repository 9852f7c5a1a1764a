#include "ui/event_log.h"

#include <algorithm>

#include "platform/errors.h"

namespace zuvo {

void EventLog::Append(std::string line) {
    if (file_.is_open()) {
        file_ << line << '\n';  // write errors are ignored
        // A log that may be the only record of a long contest session goes out at once.
        file_.flush();
    }
    if (observer_) {
        observer_(line);
    }
    if (keepLines_) {
        if (lines_.size() >= kListLines + kListTrim) {
            lines_.erase(lines_.begin(), lines_.begin() + kListTrim);
        }
        lines_.push_back(std::move(line));
    }
}

void EventLog::LogMessage(std::string_view text) {
    Append(std::string(text));
}

void EventLog::LogByte(std::string_view prefix, uint8_t b) {
    Append(FormatByteLine(prefix, b));
}

void EventLog::LogBytes2(std::string_view prefix, uint8_t b1, uint8_t b2) {
    Append(FormatBytes2Line(prefix, b1, b2));
}

void EventLog::LogBytes3(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) {
    Append(FormatBytes3Line(prefix, b1, b2, b3));
}

void EventLog::LogQuoted(std::string_view prefix, std::string_view text) {
    std::string line;
    if (FormatQuotedLine(prefix, text, line)) {
        Append(std::move(line));
    }
}

void EventLog::LogLastError(std::string_view prefix) {
    const uint32_t code = platform::GetLastError();
    if (code == 0) {
        return;
    }
    const std::string text = platform::SystemErrorText(code);
    if (style_ == ErrorStyle::kOneLine) {
        Append(std::string(prefix) + text);
    } else {
        Append(std::string(prefix));
        Append(" " + text);
    }
}

void EventLog::OpenLogFile(bool flag, const std::string& logPath) {
    if (!flag) {
        return;
    }
    // An empty path is the platform rule's way of saying the settings path gives no log
    // file (the Windows rule refuses a settings path that starts with ".").
    if (!logPath.empty()) {
        file_.open(logPath, std::ios::out | std::ios::trunc);
    }
    if (!file_.is_open()) {
        LogMessage("Could not open log file");
    }
}

bool EventLog::Contains(const std::string& line) const {
    return std::find(lines_.begin(), lines_.end(), line) != lines_.end();
}

}  // namespace zuvo
