#pragma once

// Shared test doubles for the logic's narrow interfaces.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/event_log.h"
#include "link/box_sender.h"
#include "platform/errors.h"

namespace zuvo::test {

// Records every line as the interface program's event log would write it.
class FakeEventLog : public IEventLog {
  public:
    std::vector<std::string> lines;

    void LogMessage(std::string_view text) override { lines.emplace_back(text); }
    void LogByte(std::string_view prefix, uint8_t b) override {
        lines.push_back(FormatByteLine(prefix, b));
    }
    void LogBytes2(std::string_view prefix, uint8_t b1, uint8_t b2) override {
        lines.push_back(FormatBytes2Line(prefix, b1, b2));
    }
    void LogBytes3(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) override {
        lines.push_back(FormatBytes3Line(prefix, b1, b2, b3));
    }
    void LogQuoted(std::string_view prefix, std::string_view text) override {
        std::string line;
        if (FormatQuotedLine(prefix, text, line)) {
            lines.push_back(line);
        }
    }
    void LogLastError(std::string_view prefix) override {
        const uint32_t code = platform::GetLastError();
        if (code != 0) {
            lines.emplace_back(prefix);
            lines.push_back(" " + platform::SystemErrorText(code));
        }
    }
    void Clear() { lines.clear(); }
    bool Contains(const std::string& line) const {
        for (const auto& l : lines) {
            if (l == line) {
                return true;
            }
        }
        return false;
    }
};

// Verbose check boxes set by the test.
class FakeVerbose : public IVerbose {
  public:
    bool box = false, keyer = false, zuvo = false, rtty = false;
    bool IsVerbose(Verbose c) const override {
        switch (c) {
            case Verbose::kBox:
                return box;
            case Verbose::kKeyer:
                return keyer;
            case Verbose::kZuvo:
                return zuvo;
            case Verbose::kRtty:
                return rtty;
        }
        return false;
    }
};

// Records box commands; "connected" decides whether they count as written. Like the real
// link, a send with no box logs the refusal line into the given log (if any).
class FakeBoxSender : public IBoxSender {
  public:
    explicit FakeBoxSender(IEventLog* log = nullptr) : log_(log) {}
    bool connected = true;
    std::vector<std::pair<uint8_t, uint8_t>> sent;
    int refusals = 0;

    bool SendBoxCommand(int code, int value) override {
        if (!connected) {
            ++refusals;
            if (log_ != nullptr) {
                log_->LogMessage("Zuvo Box is not connected");
            }
            return false;
        }
        sent.emplace_back(static_cast<uint8_t>(code), static_cast<uint8_t>(value));
        return true;
    }
    bool IsConnectedFlag() const override { return connected; }
    void Clear() { sent.clear(); }

  private:
    IEventLog* log_;
};

}  // namespace zuvo::test
