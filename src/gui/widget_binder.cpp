#include "gui/widget_binder.h"

#include <algorithm>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QWidget>

namespace zuvo::gui {

namespace {

constexpr const char* kNoteGap = "   ";

// Draws a drop-down entry followed by its note; the entry's own text is left alone.
class ItemNoteDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

  protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        const QString note = index.data(WidgetBinder::kItemNoteRole).toString();
        if (!note.isEmpty()) {
            option->text += QLatin1String(kNoteGap) + note;
        }
    }
};

void ShowChosenNote(QComboBox* combo) {
    if (dynamic_cast<ItemNoteDelegate*>(combo->itemDelegate()) == nullptr) {
        return;  // a drop-down without notes keeps its own tool tip
    }
    const int chosen = combo->currentIndex();
    combo->setToolTip(chosen < 0
                          ? QString()
                          : combo->itemText(chosen) + QStringLiteral(": ") +
                                combo->itemData(chosen, WidgetBinder::kItemNoteRole).toString());
}

}  // namespace

WidgetBinder::WidgetBinder(WindowModel& model, QWidget* root, ChangeHandler onUserChange)
    : WidgetBinder(model, root, std::move(onUserChange), &WidgetBinder::IdFromName) {}

WidgetBinder::WidgetBinder(WindowModel& model, QWidget* root, ChangeHandler onUserChange,
                           const NameToId& nameToId)
    : QObject(root), model_(model), onUserChange_(std::move(onUserChange)) {
    const auto children = root->findChildren<QWidget*>();
    for (QWidget* widget : children) {
        const int id = nameToId(widget->objectName());
        if (id >= 0 && model_.Has(id)) {
            widgets_[id] = widget;
            Connect(id, widget);
        }
    }
    model_.SetObserver([this](int id) {
        if (id == WindowModel::kRefresh) {
            PullAll();
        } else {
            Pull(id);
        }
    });
    PullAll();
}

WidgetBinder::~WidgetBinder() {
    model_.SetObserver(nullptr);
}

int WidgetBinder::IdFromName(const QString& objectName) {
    if (objectName.size() < 2 || objectName[0] != QLatin1Char('c')) {
        return -1;
    }
    bool ok = false;
    const int id = objectName.mid(1).toInt(&ok);
    return ok && id >= 0 ? id : -1;
}

QWidget* WidgetBinder::WidgetFor(int id) const {
    auto it = widgets_.find(id);
    return it == widgets_.end() ? nullptr : it->second;
}

std::vector<int> WidgetBinder::UnboundIds() const {
    std::vector<int> missing;
    for (const auto& [id, control] : model_.Controls()) {
        if (widgets_.count(id) == 0) {
            missing.push_back(id);
        }
    }
    return missing;
}

void WidgetBinder::Connect(int id, QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        // clicked is emitted for user actions only, never for setChecked.
        connect(button, &QAbstractButton::clicked, this, [this, id, button](bool) {
            model_.SetChecked(id, button->isChecked());
            onUserChange_(id);
        });
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo, qOverload<int>(&QComboBox::currentIndexChanged), this,
                [combo](int) { ShowChosenNote(combo); });
        connect(combo, qOverload<int>(&QComboBox::activated), this, [this, id](int index) {
            model_.SetSelection(id, index);
            onUserChange_(id);
        });
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // textEdited, unlike textChanged, is not emitted for setText.
        connect(edit, &QLineEdit::textEdited, this, [this, id](const QString& text) {
            model_.SetText(id, text.toStdString());
            onUserChange_(id);
        });
    }
}

void WidgetBinder::ShowItemNotes(int id, QComboBox* combo, const Control& c) {
    // A refresh pulls every widget at each box report: only new notes cost anything.
    std::vector<std::string>& shown = shownNotes_[id];
    if (shown == c.itemNotes && combo->itemData(0, kItemNoteRole).isValid()) {
        return;
    }
    shown = c.itemNotes;
    if (dynamic_cast<ItemNoteDelegate*>(combo->itemDelegate()) == nullptr) {
        combo->setItemDelegate(new ItemNoteDelegate(combo));
    }
    int widest = 0;
    const QFontMetrics metrics = combo->view()->fontMetrics();
    for (int i = 0; i < combo->count(); ++i) {
        const QString note = static_cast<size_t>(i) < c.itemNotes.size()
                                 ? QString::fromStdString(c.itemNotes[static_cast<size_t>(i)])
                                 : QString();
        if (combo->itemData(i, kItemNoteRole).toString() != note) {
            combo->setItemData(i, note, kItemNoteRole);
            combo->setItemData(i, note, Qt::ToolTipRole);
        }
        widest = std::max(
            widest, metrics.horizontalAdvance(combo->itemText(i) + QLatin1String(kNoteGap) + note));
    }
    // The open list is as wide as its longest entry with its note (a by-id path is long).
    combo->view()->setMinimumWidth(widest + 4 * metrics.averageCharWidth());
    ShowChosenNote(combo);
}

void WidgetBinder::PullAll() {
    for (const auto& [id, widget] : widgets_) {
        Pull(id);
    }
}

void WidgetBinder::Pull(int id) {
    QWidget* widget = WidgetFor(id);
    if (widget == nullptr) {
        return;
    }
    const Control& c = model_.Get(id);
    if (widget->isEnabled() != c.enabled) {
        widget->setEnabled(c.enabled);
    }
    if (widget->isHidden() == c.visible) {
        widget->setVisible(c.visible);
    }
    const QString text = QString::fromStdString(c.text);
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        const QSignalBlocker block(button);
        if (!c.text.empty() && button->text() != text) {
            button->setText(text);
        }
        if (button->isCheckable() && button->isChecked() != c.checked) {
            // An exclusive radio button cannot be unchecked directly; the model may leave
            // a whole group unchecked (the disconnected look).
            const bool exclusive = button->autoExclusive();
            button->setAutoExclusive(false);
            button->setChecked(c.checked);
            button->setAutoExclusive(exclusive);
        }
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        const QSignalBlocker block(combo);
        // The items are filled once at start-up; a changed count means new contents.
        if (combo->count() != static_cast<int>(c.items.size())) {
            combo->clear();
            QStringList items;
            items.reserve(static_cast<int>(c.items.size()));
            for (const auto& item : c.items) {
                items << QString::fromStdString(item);
            }
            combo->addItems(items);
        }
        if (combo->currentIndex() != c.selection) {
            combo->setCurrentIndex(c.selection);
        }
        if (!c.itemNotes.empty()) {
            ShowItemNotes(id, combo, c);
        }
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        // An edit line shows the model's text as it is, empty included.
        if (edit->text() != text) {
            const QSignalBlocker block(edit);
            edit->setText(text);
        }
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        if (label->text() != text) {
            label->setText(text);
        }
    } else if (auto* list = qobject_cast<QListWidget*>(widget)) {
        if (list->count() != static_cast<int>(c.items.size())) {
            list->clear();
            for (const auto& item : c.items) {
                list->addItem(QString::fromStdString(item));
            }
        }
        list->setCurrentRow(c.selection);
    }
}

}  // namespace zuvo::gui
