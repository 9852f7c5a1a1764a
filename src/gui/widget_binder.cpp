#include "gui/widget_binder.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QWidget>

namespace zuvo::gui {

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
