#pragma once

#include <windows.h>

#include <string>

namespace zuvo::gui::win32 {

// An event log shown in a list box: each line appended at the end, the latest lines kept
// (the same bound as every list of the log, EventLog::kListLines), and the list scrolled to
// its last line once per burst rather than once per line, so a verbose flood stays cheap.
// The dialog's thread only.
class LogList {
  public:
    // Posted to the owner when a scroll is due; the owner's dialog procedure calls
    // ScrollToEnd for it.
    static constexpr UINT kScrollMessage = WM_APP + 0x101;

    LogList(HWND list, HWND owner) : list_(list), owner_(owner) {}

    void Append(const std::string& line);
    void ScrollToEnd();

    int Count() const;
    std::string Line(int index) const;

  private:
    HWND list_;
    HWND owner_;
    bool scrollPending_ = false;
};

}  // namespace zuvo::gui::win32
