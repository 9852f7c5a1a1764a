#include "ui/window_model.h"

#include <stdexcept>

namespace zuvo {

void WindowModel::Add(int id, Control control) {
    controls_[id] = std::move(control);
}

const Control& WindowModel::Get(int id) const {
    auto it = controls_.find(id);
    if (it == controls_.end()) {
        throw std::out_of_range("no control " + std::to_string(id));
    }
    return it->second;
}

Control& WindowModel::Mutable(int id) {
    return const_cast<Control&>(Get(id));
}

void WindowModel::Notify(int id) {
    if (observer_) {
        observer_(id);
    }
}

void WindowModel::SetChecked(int id, bool checked) {
    Control& c = Mutable(id);
    if (c.checked != checked) {
        c.checked = checked;
        Notify(id);
    }
}

void WindowModel::SetEnabled(int id, bool enabled) {
    Control& c = Mutable(id);
    if (c.enabled != enabled) {
        c.enabled = enabled;
        Notify(id);
    }
}

void WindowModel::SetVisible(int id, bool visible) {
    Control& c = Mutable(id);
    if (c.visible != visible) {
        c.visible = visible;
        Notify(id);
    }
}

void WindowModel::SetSelection(int id, int index) {
    Control& c = Mutable(id);
    if (index < 0 || index >= static_cast<int>(c.items.size())) {
        index = -1;
    }
    if (c.selection != index) {
        c.selection = index;
        Notify(id);
    }
}

void WindowModel::SetText(int id, std::string text) {
    Control& c = Mutable(id);
    if (c.text != text) {
        c.text = std::move(text);
        Notify(id);
    }
}

void WindowModel::SetItemNotes(int id, std::vector<std::string> notes) {
    Control& c = Mutable(id);
    if (c.itemNotes != notes) {
        c.itemNotes = std::move(notes);
        Notify(id);
    }
}

void WindowModel::SetItems(int id, std::vector<std::string> items) {
    Control& c = Mutable(id);
    c.items = std::move(items);
    if (c.selection >= static_cast<int>(c.items.size())) {
        c.selection = -1;
    }
    Notify(id);
}

void WindowModel::AppendItem(int id, std::string item) {
    Mutable(id).items.push_back(std::move(item));
    Notify(id);
}

void WindowModel::Refresh() {
    ++refreshCount_;
    Notify(kRefresh);
}

}  // namespace zuvo
