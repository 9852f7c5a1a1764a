#pragma once

#include <functional>
#include <string>
#include <vector>

#include "core/event_log.h"

namespace zuvo {

// The utility's log list: every line kept in order, never trimmed, never written to a file.
// A front end (window list, command-line stdout) sees each line through the observer.
// Main thread only.
class UtilityLog final : public IEventLog {
  public:
    using LineObserver = std::function<void(const std::string& line)>;

    void LogMessage(std::string_view text) override;
    void LogByte(std::string_view prefix, uint8_t b) override;
    void LogBytes2(std::string_view prefix, uint8_t b1, uint8_t b2) override;
    void LogBytes3(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) override;
    void LogQuoted(std::string_view prefix, std::string_view text) override;
    // One line: the prefix directly followed by the system's text; nothing for error 0.
    void LogLastError(std::string_view prefix) override;

    const std::vector<std::string>& Lines() const { return lines_; }
    bool Contains(const std::string& line) const;
    void SetObserver(LineObserver observer) { observer_ = std::move(observer); }

  private:
    void Append(std::string line);

    std::vector<std::string> lines_;
    LineObserver observer_;
};

}  // namespace zuvo
