#include "gui/win32/dialog_binder.h"

#include <algorithm>

namespace zuvo::gui::win32 {

namespace {

constexpr char kNoteGap[] = "   ";

// Runs f with the flag set, so that notifications the program's own changes cause are not
// taken for the user's.
template <typename F>
void Quietly(bool& flag, F&& f) {
    const bool was = flag;
    flag = true;
    f();
    flag = was;
}

}  // namespace

std::string WindowText(HWND window) {
    const int length = ::GetWindowTextLengthA(window);
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const int got = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(got, 0)));
    return text;
}

DialogBinder::DialogBinder(WindowModel& model, HWND dialog, ChangeHandler onUserChange)
    : model_(model), dialog_(dialog), onUserChange_(std::move(onUserChange)) {
    for (const auto& [id, control] : model_.Controls()) {
        if (HWND window = ::GetDlgItem(dialog_, id); window != nullptr) {
            controls_[id] = Bound{window, KindOf(window)};
        }
    }
    PullAll();
}

DialogBinder::Kind DialogBinder::KindOf(HWND control) {
    char name[32] = {};
    ::GetClassNameA(control, name, sizeof name);
    if (::lstrcmpiA(name, "Button") == 0) {
        switch (::GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK) {
            case BS_CHECKBOX:
            case BS_AUTOCHECKBOX:
            case BS_3STATE:
            case BS_AUTO3STATE:
                return Kind::kCheckBox;
            case BS_RADIOBUTTON:
            case BS_AUTORADIOBUTTON:
                return Kind::kRadioButton;
            default:
                return Kind::kPushButton;
        }
    }
    if (::lstrcmpiA(name, "ComboBox") == 0) {
        return Kind::kComboBox;
    }
    if (::lstrcmpiA(name, "Edit") == 0) {
        return Kind::kEdit;
    }
    if (::lstrcmpiA(name, "ListBox") == 0) {
        return Kind::kListBox;
    }
    return Kind::kStatic;
}

HWND DialogBinder::ControlFor(int id) const {
    const auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second.window;
}

std::vector<int> DialogBinder::UnboundIds() const {
    std::vector<int> missing;
    for (const auto& [id, control] : model_.Controls()) {
        if (controls_.count(id) == 0) {
            missing.push_back(id);
        }
    }
    return missing;
}

void DialogBinder::PullAll() {
    for (const auto& [id, bound] : controls_) {
        Pull(id);
    }
}

void DialogBinder::FillItems(HWND control, Kind kind, const Control& c) {
    const bool combo = kind == Kind::kComboBox;
    const UINT count = combo ? CB_GETCOUNT : LB_GETCOUNT;
    if (::SendMessageA(control, count, 0, 0) == static_cast<LRESULT>(c.items.size())) {
        return;  // filled once at start-up; a changed count means new contents
    }
    ::SendMessageA(control, WM_SETREDRAW, FALSE, 0);
    ::SendMessageA(control, combo ? CB_RESETCONTENT : LB_RESETCONTENT, 0, 0);
    size_t bytes = 0;
    for (const auto& item : c.items) {
        bytes += item.size() + 1;
    }
    ::SendMessageA(control, combo ? CB_INITSTORAGE : LB_INITSTORAGE, c.items.size(), bytes);
    for (const auto& item : c.items) {
        ::SendMessageA(control, combo ? CB_ADDSTRING : LB_ADDSTRING, 0,
                       reinterpret_cast<LPARAM>(item.c_str()));
    }
    ::SendMessageA(control, WM_SETREDRAW, TRUE, 0);
    ::InvalidateRect(control, nullptr, TRUE);
}

void DialogBinder::Pull(int id) {
    const auto it = controls_.find(id);
    if (it == controls_.end()) {
        return;
    }
    const HWND w = it->second.window;
    const Kind kind = it->second.kind;
    const Control& c = model_.Get(id);
    Quietly(pulling_, [&] {
        if ((::IsWindowEnabled(w) != FALSE) != c.enabled) {
            ::EnableWindow(w, c.enabled ? TRUE : FALSE);
        }
        const bool shown = (::GetWindowLongA(w, GWL_STYLE) & WS_VISIBLE) != 0;
        if (shown != c.visible) {
            ::ShowWindow(w, c.visible ? SW_SHOWNA : SW_HIDE);
        }
        switch (kind) {
            case Kind::kCheckBox:
            case Kind::kRadioButton: {
                const WPARAM state = c.checked ? BST_CHECKED : BST_UNCHECKED;
                if (static_cast<WPARAM>(::SendMessageA(w, BM_GETCHECK, 0, 0)) != state) {
                    ::SendMessageA(w, BM_SETCHECK, state, 0);
                }
                [[fallthrough]];
            }
            case Kind::kPushButton:
                if (!c.text.empty() && WindowText(w) != c.text) {
                    ::SetWindowTextA(w, c.text.c_str());
                }
                break;
            case Kind::kComboBox:
                FillItems(w, kind, c);
                if (::SendMessageA(w, CB_GETCURSEL, 0, 0) != c.selection) {
                    ::SendMessageA(w, CB_SETCURSEL, static_cast<WPARAM>(c.selection), 0);
                }
                if (!c.itemNotes.empty()) {
                    ::InvalidateRect(w, nullptr, FALSE);
                }
                break;
            case Kind::kListBox:
                if (!c.items.empty()) {
                    FillItems(w, kind, c);
                }
                break;
            case Kind::kStatic:
            case Kind::kEdit:
                if (WindowText(w) != c.text) {
                    ::SetWindowTextA(w, c.text.c_str());
                }
                break;
        }
    });
}

bool DialogBinder::OnCommand(WPARAM wParam, LPARAM lParam) {
    if (pulling_ || lParam == 0) {
        return false;  // the program's own change, or a menu or accelerator command
    }
    const int id = LOWORD(wParam);
    const UINT code = HIWORD(wParam);
    const auto it = controls_.find(id);
    if (it == controls_.end() || it->second.window != reinterpret_cast<HWND>(lParam)) {
        return false;
    }
    const HWND w = it->second.window;
    switch (it->second.kind) {
        case Kind::kPushButton:
            if (code != BN_CLICKED) {
                return false;
            }
            onUserChange_(id);
            return true;
        case Kind::kCheckBox:
            if (code != BN_CLICKED) {
                return false;
            }
            model_.SetChecked(id, ::SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED);
            onUserChange_(id);
            return true;
        case Kind::kRadioButton:
            if (code != BN_CLICKED) {
                return false;
            }
            OnRadioClicked(id, w);
            return true;
        case Kind::kComboBox: {
            if (code != CBN_SELCHANGE) {
                return false;
            }
            const int selection = static_cast<int>(::SendMessageA(w, CB_GETCURSEL, 0, 0));
            if (selection == model_.Selection(id)) {
                return true;
            }
            model_.SetSelection(id, selection);
            onUserChange_(id);
            return true;
        }
        case Kind::kEdit:
            if (code != EN_CHANGE) {
                return false;
            }
            model_.SetText(id, WindowText(w));
            onUserChange_(id);
            return true;
        case Kind::kStatic:
        case Kind::kListBox:
            return false;
    }
    return false;
}

// An automatic radio button has already unchecked the others of its group; the model learns
// the whole group's state, and the handler hears of the one clicked.
void DialogBinder::OnRadioClicked(int id, HWND radio) {
    if (::SendMessageA(radio, BM_GETCHECK, 0, 0) != BST_CHECKED) {
        ::SendMessageA(radio, BM_SETCHECK, BST_CHECKED, 0);  // a plain radio button
    }
    // The group's other controls, in turn until the walk comes back to the one clicked.
    HWND other = ::GetNextDlgGroupItem(dialog_, radio, FALSE);
    for (int n = 0; other != nullptr && other != radio && n < 64; ++n) {
        const int otherId = ::GetDlgCtrlID(other);
        const auto it = controls_.find(otherId);
        if (it != controls_.end() && it->second.kind == Kind::kRadioButton) {
            model_.SetChecked(otherId, ::SendMessageA(other, BM_GETCHECK, 0, 0) == BST_CHECKED);
        }
        other = ::GetNextDlgGroupItem(dialog_, other, FALSE);
    }
    model_.SetChecked(id, true);
    onUserChange_(id);
}

std::string DialogBinder::NoteOf(int id, int index) const {
    const Control& c = model_.Get(id);
    return index >= 0 && static_cast<size_t>(index) < c.itemNotes.size()
               ? c.itemNotes[static_cast<size_t>(index)]
               : std::string();
}

bool DialogBinder::OnMeasureItem(MEASUREITEMSTRUCT& item) {
    if (item.CtlType != ODT_COMBOBOX) {
        return false;
    }
    HWND control = ::GetDlgItem(dialog_, static_cast<int>(item.CtlID));
    HDC dc = ::GetDC(control != nullptr ? control : dialog_);
    const HGDIOBJ old =
        ::SelectObject(dc, reinterpret_cast<HFONT>(::SendMessageA(dialog_, WM_GETFONT, 0, 0)));
    TEXTMETRICA metrics{};
    ::GetTextMetricsA(dc, &metrics);
    ::SelectObject(dc, old);
    ::ReleaseDC(control != nullptr ? control : dialog_, dc);
    item.itemHeight = static_cast<UINT>(metrics.tmHeight + 2);
    return true;
}

bool DialogBinder::OnDrawItem(const DRAWITEMSTRUCT& item) {
    if (item.CtlType != ODT_COMBOBOX) {
        return false;
    }
    const int id = static_cast<int>(item.CtlID);
    if (controls_.count(id) == 0) {
        return false;
    }
    const bool selected = (item.itemState & ODS_SELECTED) != 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    ::FillRect(item.hDC, &item.rcItem,
               ::GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
    const int index = static_cast<int>(item.itemID);
    const Control& c = model_.Get(id);
    if (index < 0 || static_cast<size_t>(index) >= c.items.size()) {
        return true;  // no entry selected: an empty field
    }
    ::SetBkMode(item.hDC, TRANSPARENT);
    RECT r = item.rcItem;
    r.left += 2;
    const COLORREF text = ::GetSysColor(disabled   ? COLOR_GRAYTEXT
                                        : selected ? COLOR_HIGHLIGHTTEXT
                                                   : COLOR_WINDOWTEXT);
    ::SetTextColor(item.hDC, text);
    const std::string& entry = c.items[static_cast<size_t>(index)];
    ::DrawTextA(item.hDC, entry.c_str(), static_cast<int>(entry.size()), &r,
                DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
    // The note only in the open list, where there is room for it.
    const std::string note = NoteOf(id, index);
    if (!note.empty() && (item.itemState & ODS_COMBOBOXEDIT) == 0) {
        SIZE size{};
        const std::string shown = entry + kNoteGap;
        ::GetTextExtentPoint32A(item.hDC, shown.c_str(), static_cast<int>(shown.size()), &size);
        r.left += size.cx;
        ::SetTextColor(item.hDC, selected ? text : ::GetSysColor(COLOR_GRAYTEXT));
        ::DrawTextA(item.hDC, note.c_str(), static_cast<int>(note.size()), &r,
                    DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_PATH_ELLIPSIS);
    }
    if ((item.itemState & ODS_FOCUS) != 0) {
        ::DrawFocusRect(item.hDC, &item.rcItem);
    }
    return true;
}

}  // namespace zuvo::gui::win32
