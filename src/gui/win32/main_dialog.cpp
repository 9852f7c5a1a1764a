#include "gui/win32/main_dialog.h"

#include <commctrl.h>
#include <commdlg.h>

#include "gui/win32/resources/resource_ids.h"
#include "gui/win32/window_capture.h"
#include "ui/main_ids.h"

namespace zuvo::gui::win32 {

namespace {

constexpr int kStatusTexts[] = {ids::kRxText,    ids::kTxText,        ids::kStereoText,
                                ids::kSpeedText, ids::kAntennas1Text, ids::kAntennas2Text,
                                ids::kTuneText,  ids::kPttText};

COLORREF ToColorRef(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

UINT DpiOf(HWND window) {
    const UINT dpi = ::GetDpiForWindow(window);
    return dpi != 0 ? dpi : USER_DEFAULT_SCREEN_DPI;
}

INT_PTR CALLBACK AboutProc(HWND about, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG: {
            const auto* lines =
                reinterpret_cast<const std::pair<std::string, std::string>*>(lParam);
            ::SetDlgItemTextA(about, IDC_ABOUT_VERSION, lines->first.c_str());
            ::SetDlgItemTextA(about, IDC_ABOUT_FIRMWARE, lines->second.c_str());
            return TRUE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                ::EndDialog(about, LOWORD(wParam));
                return TRUE;
            }
            return FALSE;
        default:
            return FALSE;
    }
}

}  // namespace

HICON ProgramIcon(bool small) {
    const int size = ::GetSystemMetrics(small ? SM_CXSMICON : SM_CXICON);
    return static_cast<HICON>(::LoadImageA(::GetModuleHandleA(nullptr),
                                           MAKEINTRESOURCEA(IDI_ZUVOBOX), IMAGE_ICON, size, size,
                                           LR_DEFAULTCOLOR));
}

void ShowAboutDialog(HWND owner, int templateId, const std::string& version,
                     const std::string& firmware) {
    const std::pair<std::string, std::string> lines{version, firmware};
    ::DialogBoxParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(templateId), owner, &AboutProc,
                      reinterpret_cast<LPARAM>(&lines));
}

// --- Win32Dialogs --------------------------------------------------------------------------

void Win32Dialogs::ShowError(const std::string& text) {
    ::MessageBoxA(owner_, text.c_str(), title_.c_str(), MB_OK | MB_ICONERROR);
}

void Win32Dialogs::ShowMessage(const std::string& text) {
    ::MessageBoxA(owner_, text.c_str(), title_.c_str(), MB_OK | MB_ICONINFORMATION);
}

bool Win32Dialogs::AskYesNo(const std::string& text) {
    return ::MessageBoxA(owner_, text.c_str(), title_.c_str(), MB_YESNO | MB_ICONQUESTION) == IDYES;
}

std::string Win32Dialogs::FilterForDialog(const std::string& filter) {
    std::string result = filter;
    for (char& c : result) {
        c = c == '|' ? '\0' : c;
    }
    if (result.size() < 2 || result[result.size() - 1] != '\0' ||
        result[result.size() - 2] != '\0') {
        result.append(2, '\0');
    }
    return result;
}

std::optional<std::string> Win32Dialogs::OpenFile(const std::string& filter) {
    const std::string dialogFilter = FilterForDialog(filter);
    char file[MAX_PATH * 4] = {};
    OPENFILENAMEA ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner_;
    ofn.lpstrFilter = dialogFilter.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
    if (!::GetOpenFileNameA(&ofn)) {
        return std::nullopt;
    }
    return std::string(file);
}

// --- MainDialog ----------------------------------------------------------------------------

MainDialog::MainDialog(CZuvoDlg& dlg, platform::win32::MessageWindow& window)
    : dlg_(dlg), window_(window) {}

MainDialog::~MainDialog() {
    dlg_.Log().SetObserver(nullptr);
    dlg_.Window().Model().SetObserver(nullptr);
    binder_.reset();
    if (dialog_ != nullptr) {
        ::DestroyWindow(dialog_);
    }
    if (statusFont_ != nullptr) {
        ::DeleteObject(statusFont_);
    }
    for (auto& [look, brush] : brushes_) {
        ::DeleteObject(brush);
    }
    for (HICON icon : {icon_, smallIcon_}) {
        if (icon != nullptr) {
            ::DestroyIcon(icon);
        }
    }
}

bool MainDialog::Create() {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    ::InitCommonControlsEx(&controls);
    dialog_ = ::CreateDialogParamA(::GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr,
                                   &RoutingDialogProc<MainDialog>, reinterpret_cast<LPARAM>(this));
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

    // The window menu's About entry (the title bar's menu is the program's own on Windows).
    if (HMENU menu = ::GetSystemMenu(dialog_, FALSE); menu != nullptr) {
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuA(menu, MF_STRING, ids::kAboutCommand, ids::kAboutMenuText);
    }
    MakeStatusFont();

    log_ = std::make_unique<LogList>(::GetDlgItem(dialog_, ids::kEventLogList), dialog_);
    // The list shows the lines; the log need not keep a second copy of each.
    dlg_.Log().SetKeepLines(false);
    dlg_.Log().SetObserver([this](const std::string& line) { log_->Append(line); });

    binder_ = std::make_unique<DialogBinder>(dlg_.Window().Model(), dialog_,
                                             [this](int id) { dlg_.OnControlChanged(id); });
    dlg_.Window().Model().SetObserver([this](int id) {
        if (id == WindowModel::kRefresh) {
            binder_->PullAll();
        } else {
            binder_->Pull(id);
        }
    });
    return true;
}

void MainDialog::MakeStatusFont() {
    if (statusFont_ != nullptr) {
        ::DeleteObject(statusFont_);
    }
    const int height = -::MulDiv(kStatusTextPoints, static_cast<int>(DpiOf(dialog_)), 72);
    statusFont_ = ::CreateFontA(height, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                                DEFAULT_PITCH | FF_SWISS, "Segoe UI");
    for (int id : kStatusTexts) {
        ::SendDlgItemMessageA(dialog_, id, WM_SETFONT, reinterpret_cast<WPARAM>(statusFont_), TRUE);
    }
}

StatusLook MainDialog::LookOf(int id) const {
    // Captions no model knows (group boxes, labels: id -1) paint through here too.
    const WindowModel& model = dlg_.Window().Model();
    return model.Has(id) ? StatusLookOf(id, model.Text(id)) : StatusLook::kPlain;
}

HBRUSH MainDialog::BrushFor(StatusLook look) {
    HBRUSH& brush = brushes_[look];
    if (brush == nullptr) {
        brush = ::CreateSolidBrush(ToColorRef(ColoursOf(look).background));
    }
    return brush;
}

void MainDialog::ShowAbout() {
    ShowAboutDialog(dialog_, IDD_MAIN_ABOUT, dlg_.Window().VersionText(),
                    dlg_.Window().FirmwareVersionText());
}

INT_PTR MainDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDOK:
                    dlg_.OnDialogKey(CZuvoDlg::DialogKey::kEnter);
                    return TRUE;
                case IDCANCEL:
                    dlg_.OnDialogKey(CZuvoDlg::DialogKey::kEscape);
                    return TRUE;
                default:
                    return binder_ != nullptr && binder_->OnCommand(wParam, lParam) ? TRUE : FALSE;
            }
        case WM_SYSCOMMAND:
            if ((wParam & 0xFFF0) == ids::kAboutCommand) {
                ShowAbout();
                return TRUE;
            }
            return FALSE;  // every other window command takes its default action
        case WM_CTLCOLORSTATIC: {
            const int id = ::GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
            const StatusLook look = LookOf(id);
            if (look == StatusLook::kPlain) {
                return FALSE;
            }
            const StatusColours colours = ColoursOf(look);
            HDC dc = reinterpret_cast<HDC>(wParam);
            ::SetTextColor(dc, ToColorRef(colours.text));
            ::SetBkColor(dc, ToColorRef(colours.background));
            return reinterpret_cast<INT_PTR>(BrushFor(look));
        }
        case WM_DRAWITEM:
            return binder_ != nullptr &&
                           binder_->OnDrawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam))
                       ? TRUE
                       : FALSE;
        case WM_MEASUREITEM:
            return binder_ != nullptr &&
                           binder_->OnMeasureItem(*reinterpret_cast<MEASUREITEMSTRUCT*>(lParam))
                       ? TRUE
                       : FALSE;
        case LogList::kScrollMessage:
            if (log_ != nullptr) {
                log_->ScrollToEnd();
            }
            return TRUE;
        case WM_DPICHANGED:
            MakeStatusFont();
            return FALSE;  // the system moves and scales the dialog itself
        case WM_PAINT:
            if (::IsIconic(dialog_)) {
                // Minimised: the icon, centred.
                PAINTSTRUCT paint;
                HDC dc = ::BeginPaint(dialog_, &paint);
                RECT r;
                ::GetClientRect(dialog_, &r);
                const int cx = ::GetSystemMetrics(SM_CXICON);
                const int cy = ::GetSystemMetrics(SM_CYICON);
                ::DrawIcon(dc, (r.right - r.left - cx + 1) / 2, (r.bottom - r.top - cy + 1) / 2,
                           icon_);
                ::EndPaint(dialog_, &paint);
                return TRUE;
            }
            return FALSE;
        case WM_QUERYDRAGICON:
            ::SetWindowLongPtrA(dialog_, DWLP_MSGRESULT, reinterpret_cast<LONG_PTR>(icon_));
            return TRUE;
        case WM_CLOSE:
            // Without a platform handler (no message loop yet): nothing closes the logic, so
            // the window stays.
            return TRUE;
        default:
            return FALSE;
    }
}

int RunMainWindow(CZuvoDlg& dlg, platform::MessageQueue& queue,
                  platform::win32::MessageWindow& window, Win32Dialogs& dialogs,
                  const WindowOptions& options) {
    MainDialog main(dlg, window);
    if (!main.Create()) {
        return 2;
    }
    dialogs.SetOwner(main.Handle());
    platform::win32::MessageLoop loop(queue, window);
    loop.SetDialog(main.Handle());
    int status = 0;
    if (!options.screenshot.empty()) {
        ArmScreenshot(window, main.Handle(), options.screenshot, options.screenshotDelayMs,
                      "ZuvoBox", status);
    }
    ::ShowWindow(main.Handle(), SW_SHOW);
    ::UpdateWindow(main.Handle());
    dlg.OnInitDialog();
    const int code = loop.Run([&dlg](const platform::Message& m) { dlg.Dispatch(m); },
                              [&dlg] { return dlg.Closed(); });
    window.SetHandler(WM_TIMER, nullptr);
    dialogs.SetOwner(nullptr);
    window.Attach(nullptr);
    return status != 0 ? status : code;
}

}  // namespace zuvo::gui::win32
