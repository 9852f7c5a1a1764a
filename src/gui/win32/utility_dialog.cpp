#include "gui/win32/utility_dialog.h"

#include <commctrl.h>

#include "gui/win32/resources/resource_ids.h"
#include "gui/win32/window_capture.h"
#include "utility/utility_ids.h"

namespace zuvo::gui::win32 {

namespace {

constexpr UINT kAboutCommand = 0x0010;

}  // namespace

UtilityDialog::UtilityDialog(UtilityDlg& dlg, platform::win32::MessageWindow& window)
    : dlg_(dlg), window_(window) {}

UtilityDialog::~UtilityDialog() {
    dlg_.SetLineObserver(nullptr);
    dlg_.Model().SetObserver(nullptr);
    binder_.reset();
    if (dialog_ != nullptr) {
        ::DestroyWindow(dialog_);
    }
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

bool UtilityDialog::Create() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    dialog_ =
        ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_UTILITY), nullptr,
                             &RoutingDialogProc<UtilityDialog>, reinterpret_cast<LPARAM>(this));
    if (dialog_ == nullptr) {
        if (::GetLastError() == 0) {
            ::SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        }
        return false;
    }
    window_.Attach(dialog_);

    icon_ = ProgramIcon(false);
    smallIcon_ = ProgramIcon(true);
    ::SendMessageA(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
    ::SendMessageA(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
    if (HMENU menu = ::GetSystemMenu(dialog_, FALSE); menu != nullptr) {
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(menu, MF_STRING, kAboutCommand, dlg_.Model().Text(utility::kAbout).c_str());
    }
    ::SendDlgItemMessageA(dialog_, IDC_UPDATE_PROGRESS, PBM_SETRANGE32, 0, 100);

    log_ = std::make_unique<LogList>(::GetDlgItem(dialog_, utility::kLog), dialog_);
    dlg_.Log().SetKeepLines(false);  // the list holds the lines
    dlg_.SetLineObserver([this](const std::string& line) { log_->Append(line); });

    binder_ = std::make_unique<DialogBinder>(dlg_.Model(), dialog_, [this](int id) {
        dlg_.OnControlChanged(id);
        UpdateProgress();
    });
    dlg_.Model().SetObserver([this](int id) {
        if (id == WindowModel::kRefresh) {
            binder_->PullAll();
            UpdateProgress();
        } else {
            binder_->Pull(id);
        }
    });
    UpdateProgress();
    return true;
}

void UtilityDialog::UpdateProgress() {
    const FirmwareUpdater& updater = dlg_.Updater();
    const std::string caption = updater.ProgressCaption();
    HWND label = ::GetDlgItem(dialog_, IDC_UPDATE_CAPTION);
    if (WindowText(label) != caption) {
        ::SetWindowTextA(label, caption.c_str());
        ::UpdateWindow(label);
    }
    const int percent = updater.ProgressPercent();
    if (percent != shownProgress_) {
        shownProgress_ = percent;
        HWND bar = ::GetDlgItem(dialog_, IDC_UPDATE_PROGRESS);
        ::SendMessageA(bar, PBM_SETPOS, static_cast<WPARAM>(percent), 0);
        ::UpdateWindow(bar);
    }
}

void UtilityDialog::ShowAbout() {
    ShowAboutDialog(dialog_, IDD_UTILITY_ABOUT, dlg_.UtilityVersionLine(),
                    dlg_.FirmwareVersionLine());
}

INT_PTR UtilityDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:  // Enter: the keyer console sends the Text line
                    dlg_.OnKey(UtilityDlg::Key::kEnter);
                    UpdateProgress();
                    return TRUE;
                case IDCANCEL:  // Escape: the console aborts; the window does not close
                    dlg_.OnKey(UtilityDlg::Key::kEscape);
                    return TRUE;
                default:
                    return binder_ != nullptr && binder_->OnCommand(wParam, lParam) ? TRUE : FALSE;
            }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == kAboutCommand) {
                ShowAbout();
                return TRUE;
            }
            return FALSE;
        case LogList::kScrollMessage:
            if (log_ != nullptr) {
                log_->ScrollToEnd();
            }
            return TRUE;
        case WM_CLOSE:
            return TRUE;  // no message loop yet: nothing to close
        default:
            return FALSE;
    }
}

int RunUtilityWindow(UtilityDlg& dlg, platform::MessageQueue& queue,
                     platform::win32::MessageWindow& window, Win32Dialogs& dialogs,
                     const WindowOptions& options, bool connectAtStart) {
    UtilityDialog utility(dlg, window);
    if (!utility.Create()) {
        return 2;
    }
    dialogs.SetOwner(utility.Handle());
    platform::win32::MessageLoop loop(queue, window);
    loop.SetDialog(utility.Handle());
    int status = 0;
    if (!options.screenshot.empty()) {
        ArmScreenshot(window, utility.Handle(), options.screenshot, options.screenshotDelayMs,
                      "ZuvoBoxUtility", status);
    }
    ::ShowWindow(utility.Handle(), SW_SHOW);
    ::UpdateWindow(utility.Handle());
    if (connectAtStart) {
        dlg.OnControlChanged(utility::kConnect);
    }
    bool closed = false;
    const int code = loop.Run(
        [&](const platform::Message& m) {
            if (m.id == platform::kMsgClose || m.id == platform::kMsgQuit) {
                closed = true;  // closing the window ends the program; nothing is sent
                return;
            }
            dlg.Dispatch(m);
            utility.UpdateProgress();
        },
        [&closed] { return closed; });
    window.SetHandler(WM_TIMER, nullptr);
    dialogs.SetOwner(nullptr);
    window.Attach(nullptr);
    return status != 0 ? status : code;
}

}  // namespace zuvo::gui::win32
