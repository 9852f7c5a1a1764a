#pragma once

#include <QObject>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/window_model.h"

class QComboBox;
class QWidget;

namespace zuvo::gui {

// Connects the widgets of one window to its window model, both ways. A widget is bound
// to control id N when its object name is "c" followed by N (for example "c1011"), so a
// Qt Designer form names each widget after its control id and needs no code.
//
// Model to widget: enabled, visible, checked, items, selection and text (a caption only
// replaces the form's own text when the model holds one). Widget to model: a user click
// or choice writes the new value into the model and then calls the change handler with
// the id, exactly once per user action; changes made by the program are not reported.
//
// A drop-down whose entries carry notes (the device a COM number opens) shows each note
// beside its entry in the open list, as the entry's tool tip, and the chosen entry's note
// as the drop-down's tool tip; the entry texts stay the model's.
//
// Kinds: QCheckBox, QRadioButton, QPushButton (any QAbstractButton), QComboBox, QLabel,
// QLineEdit (text both ways), QListWidget (items mirrored) and QListView (its own model; only
// enabled and visible).
//
// A form whose widgets carry readable names instead passes its own name-to-id lookup.
class WidgetBinder final : public QObject {
  public:
    using ChangeHandler = std::function<void(int id)>;
    // The control id of a widget's object name; -1 when it names no control.
    using NameToId = std::function<int(const QString& objectName)>;

    WidgetBinder(WindowModel& model, QWidget* root, ChangeHandler onUserChange);
    WidgetBinder(WindowModel& model, QWidget* root, ChangeHandler onUserChange,
                 const NameToId& nameToId);
    ~WidgetBinder() override;

    static int IdFromName(const QString& objectName);  // -1 when not a control name
    // Where a drop-down entry's note is kept (beside Qt::ToolTipRole).
    static constexpr int kItemNoteRole = Qt::UserRole + 1;

    QWidget* WidgetFor(int id) const;
    // Control ids of the model that no widget of the form is bound to.
    std::vector<int> UnboundIds() const;

    // Copies the model into one widget, or into all of them.
    void Pull(int id);
    void PullAll();

  private:
    void Connect(int id, QWidget* widget);
    void ShowItemNotes(int id, QComboBox* combo, const Control& control);

    WindowModel& model_;
    ChangeHandler onUserChange_;
    std::map<int, QWidget*> widgets_;
    std::map<int, std::vector<std::string>> shownNotes_;  // what each drop-down shows
};

}  // namespace zuvo::gui
