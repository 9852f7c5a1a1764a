#pragma once

#include <optional>
#include <string>

namespace zuvo {

// Modal dialogs, implemented by the front end; tests script the answers. Main thread only.
class IDialogHost {
  public:
    virtual ~IDialogHost() = default;
    virtual void ShowError(const std::string& text) = 0;    // error icon, OK
    virtual void ShowMessage(const std::string& text) = 0;  // OK
    virtual bool AskYesNo(const std::string& text) = 0;     // true for Yes
    // Open-file dialog; the file must exist. nullopt when cancelled.
    virtual std::optional<std::string> OpenFile(const std::string& filter) = 0;
};

}  // namespace zuvo
