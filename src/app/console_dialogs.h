#pragma once

// Dialogs and log output of a program run without a window (headless ZuvoBox, the
// utility's unattended modes).

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "core/dialog_host.h"

namespace zuvo::app {

// Messages go to standard error; a question gets the answer chosen for the run (and says
// which); the open-file dialog returns the file given on the command line, if any.
class ConsoleDialogs final : public IDialogHost {
  public:
    ConsoleDialogs(bool answerYes, std::string file = {})
        : answerYes_(answerYes), file_(std::move(file)) {}

    void ShowError(const std::string& text) override { std::cerr << text << std::endl; }
    void ShowMessage(const std::string& text) override { std::cerr << text << std::endl; }
    bool AskYesNo(const std::string& text) override {
        std::cerr << text << (answerYes_ ? " (yes)" : " (no)") << std::endl;
        return answerYes_;
    }
    std::optional<std::string> OpenFile(const std::string&) override {
        if (file_.empty()) {
            return std::nullopt;
        }
        return file_;
    }

  private:
    bool answerYes_;
    std::string file_;
};

// One log line on standard output, flushed at once so a reader sees it as it is logged.
inline void PrintLine(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace zuvo::app
