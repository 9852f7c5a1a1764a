#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace zuvo {

// One control of a window, as data: what a front end shows and what the logic reads.
struct Control {
    bool enabled = true;
    bool visible = true;
    bool checked = false;
    std::vector<std::string> items;  // drop-down and list entries
    // What a front end shows beside each entry (the device a COM number opens); empty, or
    // one per entry. The entries themselves stay what the logic and the settings use.
    std::vector<std::string> itemNotes;
    int selection = -1;  // -1: no entry selected
    std::string text;    // caption or static text
};

// A window as a table of controls keyed by control id. The logic reads and writes it
// exactly where it reads or sets a control; a front end observes it and, for a user change,
// writes the new value and then calls the owner's OnControlChanged(id). Main thread only.
class WindowModel {
  public:
    // Called with the id of a control whose state changed, or kRefresh when the logic asks
    // the window to copy its bound values into the controls.
    using Observer = std::function<void(int id)>;
    static constexpr int kRefresh = -1;

    void Add(int id, Control control = {});
    bool Has(int id) const { return controls_.count(id) != 0; }
    const Control& Get(int id) const;
    const std::map<int, Control>& Controls() const { return controls_; }

    bool Checked(int id) const { return Get(id).checked; }
    int Selection(int id) const { return Get(id).selection; }
    const std::string& Text(int id) const { return Get(id).text; }
    bool Enabled(int id) const { return Get(id).enabled; }
    bool Visible(int id) const { return Get(id).visible; }

    void SetChecked(int id, bool checked);
    void SetEnabled(int id, bool enabled);
    void SetVisible(int id, bool visible);
    // An index outside the items leaves no entry selected.
    void SetSelection(int id, int index);
    void SetText(int id, std::string text);
    void SetItems(int id, std::vector<std::string> items);
    void AppendItem(int id, std::string item);
    void SetItemNotes(int id, std::vector<std::string> notes);

    void Refresh();
    int RefreshCount() const { return refreshCount_; }

    void SetObserver(Observer observer) { observer_ = std::move(observer); }

  private:
    Control& Mutable(int id);
    void Notify(int id);

    std::map<int, Control> controls_;
    Observer observer_;
    int refreshCount_ = 0;
};

}  // namespace zuvo
