#pragma once

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "core/dialog_host.h"
#include "gui/win32/dialog_binder.h"
#include "gui/win32/log_list.h"
#include "platform/message_queue.h"
#include "platform/win32/message_window.h"
#include "ui/status_look.h"
#include "ui/zuvo_dlg.h"

namespace zuvo::gui::win32 {

// Message boxes and the open-file dialog of a windowed program, owned by its window (set
// once the window exists). The open-file dialog takes the logic's filter
// ("Description|*.EXT||") and accepts only a file that exists.
class Win32Dialogs final : public IDialogHost {
  public:
    explicit Win32Dialogs(std::string title) : title_(std::move(title)) {}
    void SetOwner(HWND owner) { owner_ = owner; }

    void ShowError(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;

    // "Intel hex files (.hex)|*.HEX||" -> the open-file dialog's form, NUL-separated pairs
    // ending in two NULs.
    static std::string FilterForDialog(const std::string& filter);

  private:
    std::string title_;
    HWND owner_ = nullptr;
};

// Where the windowed programs' message loop runs: the dialog's window takes the place of the
// headless programs' message-only window, so device broadcasts, the RTTY message, the close
// command and the read threads' wake reach it.
struct WindowOptions {
    // Non-empty: save the window as a PNG after screenshotDelayMs, then close it.
    std::string screenshot;
    int screenshotDelayMs = 1500;
};

// The interface program's main window as a dialog from the resource template IDD_MAIN,
// bound to the main dialog's window model: the event log list, the large coloured status
// texts, the About entry of the window menu, Enter and Escape passed to the logic (which
// does nothing with them), and the close box closing the program the way the logic closes.
// No decisions here. The dialog's thread only.
class MainDialog {
  public:
    MainDialog(CZuvoDlg& dlg, platform::win32::MessageWindow& window);
    ~MainDialog();
    MainDialog(const MainDialog&) = delete;
    MainDialog& operator=(const MainDialog&) = delete;

    // Creates the dialog, hidden, and attaches the message window to it. Takes over the
    // event log's observer: construct and create it before the dialog's start-up, so every
    // line reaches the list. False (last error set) when it cannot be created.
    bool Create();
    HWND Handle() const { return dialog_; }
    DialogBinder& Binder() { return *binder_; }
    LogList& Log() { return *log_; }

    // The About dialog, modal. Returns when it is closed.
    void ShowAbout();
    // The colours the status text with this id is drawn in now.
    StatusLook LookOf(int id) const;

  private:
    friend INT_PTR CALLBACK RoutingDialogProc<MainDialog>(HWND, UINT, WPARAM, LPARAM);
    INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void MakeStatusFont();
    HBRUSH BrushFor(StatusLook look);

    CZuvoDlg& dlg_;
    platform::win32::MessageWindow& window_;
    HWND dialog_ = nullptr;
    HICON icon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HFONT statusFont_ = nullptr;
    std::map<StatusLook, HBRUSH> brushes_;
    std::unique_ptr<DialogBinder> binder_;
    std::unique_ptr<LogList> log_;
};

// Runs the interface program's window: creates it, runs the dialog's start-up and the
// message loop until the program is closed (close box, Ctrl+C in its console, WM_CLOSE
// from another program), then destroys it. Returns the process exit code.
int RunMainWindow(CZuvoDlg& dlg, platform::MessageQueue& queue,
                  platform::win32::MessageWindow& window, Win32Dialogs& dialogs,
                  const WindowOptions& options);

// The program icon, large or small, from the program file's resources.
HICON ProgramIcon(bool small);

// An About box from a template with the two version statics (IDC_ABOUT_VERSION and
// IDC_ABOUT_FIRMWARE) and an OK button, modal. Returns when it is closed.
void ShowAboutDialog(HWND owner, int templateId, const std::string& version,
                     const std::string& firmware);

}  // namespace zuvo::gui::win32
