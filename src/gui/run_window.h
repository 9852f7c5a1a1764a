#pragma once

#include <memory>
#include <string>

#include "core/dialog_host.h"
#include "platform/message_queue.h"
#include "ui/zuvo_dlg.h"

class QApplication;

namespace zuvo::gui {

// The Qt application object, for a front end that does not include Qt itself. Sets the
// offscreen platform when no display is available (screenshots, tests).
class Application {
  public:
    Application(int& argc, char** argv);
    ~Application();

  private:
    std::unique_ptr<QApplication> app_;
};

// Whether a windowed run can show its window here (an X11 or Wayland display, or a Qt
// platform chosen explicitly).
bool DisplayAvailable();

struct WindowOptions {
    // Non-empty: grab the window into this PNG after screenshotDelayMs, then close.
    std::string screenshot;
    int screenshotDelayMs = 1500;
};

// Message boxes of the windowed program. Needs a QApplication.
class QtDialogs final : public IDialogHost {
  public:
    void ShowError(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;
};

// Shows the main window, runs the dialog's start-up and the Qt event loop until the window
// is closed. A QApplication must exist. Returns the process exit code.
int RunWindow(CZuvoDlg& dlg, platform::MessageQueue& queue, const WindowOptions& options);

}  // namespace zuvo::gui
