#pragma once

#include <windows.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/window_model.h"

namespace zuvo::gui::win32 {

// Connects the controls of one dialog (made from a resource template) to its window model,
// both ways. A control is bound to the model's control of the same id, so the template's
// control ids are the model's ids and no code names them.
//
// Model to control: enabled, visible, checked, items, selection and text (a button's caption
// only replaces the template's when the model holds one; a static or edit shows the model's
// text as it is, empty included). Control to model: a user's click, choice or edit arrives
// as a WM_COMMAND notification (BN_CLICKED, CBN_SELCHANGE, EN_CHANGE), which OnCommand turns
// into the new value in the model and then one call of the change handler with the id.
// Changes made by the program are not reported back.
//
// Kinds, by window class: "Button" (push button, check box, radio button), "ComboBox" (a
// drop-down list), "Static", "Edit" and "ListBox" (items mirrored when the model holds any;
// the event logs feed theirs through the log observers instead).
//
// A drop-down whose model entries carry notes (the device a COM number opens) and whose
// template makes it owner-drawn (CBS_OWNERDRAWFIXED | CBS_HASSTRINGS) shows each note beside
// its entry; the entry texts stay the model's.
//
// The dialog's thread only. The binder does not set the model's observer: the dialog does,
// and calls Pull/PullAll from it.
class DialogBinder {
  public:
    using ChangeHandler = std::function<void(int id)>;

    DialogBinder(WindowModel& model, HWND dialog, ChangeHandler onUserChange);
    DialogBinder(const DialogBinder&) = delete;
    DialogBinder& operator=(const DialogBinder&) = delete;

    HWND ControlFor(int id) const;
    // Control ids of the model that no control of the dialog is bound to.
    std::vector<int> UnboundIds() const;

    // Copies the model into one control, or into all of them.
    void Pull(int id);
    void PullAll();

    // The dialog procedure's WM_COMMAND. True when it was a user change of a bound control
    // (already handled).
    bool OnCommand(WPARAM wParam, LPARAM lParam);
    // The dialog procedure's WM_DRAWITEM and WM_MEASUREITEM for owner-drawn drop-downs.
    bool OnDrawItem(const DRAWITEMSTRUCT& item);
    bool OnMeasureItem(MEASUREITEMSTRUCT& item);

  private:
    enum class Kind { kPushButton, kCheckBox, kRadioButton, kComboBox, kStatic, kEdit, kListBox };
    struct Bound {
        HWND window;
        Kind kind;
    };

    static Kind KindOf(HWND control);
    void FillItems(HWND control, Kind kind, const Control& c);
    void OnRadioClicked(int id, HWND radio);
    std::string NoteOf(int id, int index) const;

    WindowModel& model_;
    HWND dialog_;
    ChangeHandler onUserChange_;
    std::map<int, Bound> controls_;
    bool pulling_ = false;  // set while the program changes a control
};

// The text of a window (a control's caption, an edit's contents).
std::string WindowText(HWND window);

// The dialog procedure of a window class D made with CreateDialogParam(..., this): device
// broadcasts, the RTTY message, the wake and the close command go to the platform's handlers
// on D::window_ first, as they would on the headless programs' message window; the rest to
// D::OnMessage. D makes it a friend.
template <typename D>
INT_PTR CALLBACK RoutingDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        return TRUE;
    }
    auto* self = reinterpret_cast<D*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr || self->dialog_ != dialog) {
        return FALSE;  // still inside CreateDialogParam
    }
    LRESULT result = 0;
    if (self->window_.HandleMessage(message, wParam, lParam, result)) {
        ::SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
        return TRUE;
    }
    return self->OnMessage(message, wParam, lParam);
}

}  // namespace zuvo::gui::win32
