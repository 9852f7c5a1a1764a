#pragma once

#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "core/event_log.h"

namespace zuvo {

// The interface program's event log: the list box lines (kept here; a front end shows them
// through the observer) and, with log-to-file on, the log file. Main thread only.
class EventLog final : public IEventLog {
  public:
    using LineObserver = std::function<void(const std::string& line)>;

    // How LogLastError writes: the interface program's two lines, or the utility's one.
    enum class ErrorStyle { kTwoLines, kOneLine };
    explicit EventLog(ErrorStyle style = ErrorStyle::kTwoLines) : style_(style) {}

    void LogMessage(std::string_view text) override;
    void LogByte(std::string_view prefix, uint8_t b) override;
    void LogBytes2(std::string_view prefix, uint8_t b1, uint8_t b2) override;
    void LogBytes3(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) override;
    void LogQuoted(std::string_view prefix, std::string_view text) override;
    void LogLastError(std::string_view prefix) override;

    // Opens the log file beside the settings file when flag is on; logs "Could not open log
    // file" (list only) when it cannot. logPath is the file to open, derived from the
    // settings path by the platform's rule; empty when that rule gives none.
    void OpenLogFile(bool flag, const std::string& logPath);
    bool LoggingToFile() const { return file_.is_open(); }

    // Each line as it is appended (a front end's list box, headless stdout).
    void SetObserver(LineObserver observer) { observer_ = std::move(observer); }

    // How many lines a list of the log keeps: at least the latest kListLines, and once it
    // reaches kListLines + kListTrim the oldest kListTrim go at once (trimming in batches
    // keeps the cost per line constant). A verbose contest weekend would otherwise fill
    // gigabytes; the log file keeps every line. Front ends that show the lines in their own
    // list apply the same bound.
    static constexpr size_t kListLines = 20000;
    static constexpr size_t kListTrim = 2000;

    // Keeping the lines in memory is the list box's job; a front end that shows the lines
    // itself can turn it off so only one copy lives.
    void SetKeepLines(bool keep) { keepLines_ = keep; }
    const std::vector<std::string>& Lines() const { return lines_; }
    bool Contains(const std::string& line) const;

  private:
    void Append(std::string line);

    ErrorStyle style_;
    std::vector<std::string> lines_;
    bool keepLines_ = true;
    std::ofstream file_;
    LineObserver observer_;
};

}  // namespace zuvo
