#pragma once

#include <windows.h>

#include <memory>

#include "gui/win32/dialog_binder.h"
#include "gui/win32/log_list.h"
#include "gui/win32/main_dialog.h"
#include "platform/message_queue.h"
#include "platform/win32/message_window.h"
#include "utility/utility_dlg.h"

namespace zuvo::gui::win32 {

// The utility's window as a dialog from the resource template IDD_UTILITY, bound to the
// utility's window model: the log list, the firmware update's progress bar and its
// caption, Enter and Escape for the keyer console, and the About entry of the window menu.
// No decisions here. The dialog's thread only.
class UtilityDialog {
  public:
    UtilityDialog(UtilityDlg& dlg, platform::win32::MessageWindow& window);
    ~UtilityDialog();
    UtilityDialog(const UtilityDialog&) = delete;
    UtilityDialog& operator=(const UtilityDialog&) = delete;

    // Creates the dialog, hidden, attaches the message window to it and takes over the
    // utility's line observer. False (last error set) when it cannot be created.
    bool Create();
    HWND Handle() const { return dialog_; }
    DialogBinder& Binder() { return *binder_; }
    LogList& Log() { return *log_; }

    // Copies the firmware update's stage and progress into the bar and its caption, and
    // paints them at once (erasing and uploading run without the message loop).
    void UpdateProgress();
    // The About box, modal. Returns when it is closed.
    void ShowAbout();

  private:
    friend INT_PTR CALLBACK RoutingDialogProc<UtilityDialog>(HWND, UINT, WPARAM, LPARAM);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

    UtilityDlg& dlg_;
    platform::win32::MessageWindow& window_;
    HWND dialog_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    std::unique_ptr<DialogBinder> binder_;
    std::unique_ptr<LogList> log_;
    int shownProgress_ = -1;
};

// Runs the utility's window until it is closed (close box, Ctrl+C in its console, WM_CLOSE
// from another program). With connectAtStart the window presses Connect once it is shown
// (screenshots of a simulated box). Returns the process exit code.
int RunUtilityWindow(UtilityDlg& dlg, platform::MessageQueue& queue,
                     platform::win32::MessageWindow& window, Win32Dialogs& dialogs,
                     const WindowOptions& options, bool connectAtStart);

}  // namespace zuvo::gui::win32
