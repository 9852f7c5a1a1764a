#pragma once

#include <QDialog>
#include <memory>

#include "core/dialog_host.h"
#include "gui/run_window.h"
#include "platform/message_queue.h"
#include "utility/utility_dlg.h"

namespace Ui {
class UtilityDialog;
}

namespace zuvo::gui {

class EventLogModel;
class WidgetBinder;
class QueueWaker;

// Modal dialogs of the utility's window: message boxes under the utility's title and the
// open-file dialog, which takes the logic's filter ("Description|*.EXT||") and accepts only
// a file that exists.
class UtilityDialogs final : public IDialogHost {
  public:
    explicit UtilityDialogs(QWidget* parent = nullptr) : parent_(parent) {}
    void SetParent(QWidget* parent) { parent_ = parent; }

    void ShowError(const std::string& text) override;
    void ShowMessage(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    std::optional<std::string> OpenFile(const std::string& filter) override;

    // "Intel hex files (.hex)|*.HEX||" -> "Intel hex files (.hex) (*.HEX *.hex)": Qt's
    // filter form; the lower-case pattern too, since Linux file names are case-sensitive.
    static QString QtFilter(const std::string& filter);

  private:
    QWidget* parent_;
};

// The utility's window: the form of utility_dialog.ui bound to the utility's window model,
// the log list, the firmware update's progress bar and the Qt side of the dialog (posted
// messages drained on the GUI thread, Enter and Escape for the keyer console, the About box).
// No decisions here.
class UtilityWindow final : public QDialog {
  public:
    // Takes over the queue's notifier and the dialog's line observer; construct it before
    // anything is posted so that every report and every line reaches it.
    UtilityWindow(UtilityDlg& dlg, platform::MessageQueue& queue, QWidget* parent = nullptr);
    ~UtilityWindow() override;

    WidgetBinder& Binder() { return *binder_; }
    EventLogModel& LogModel() { return *logModel_; }
    QWidget* ProgressBar() const;

    // Dispatches every queued message in order; a close command closes the window.
    void DrainQueue();
    // The About box, modal. Returns when it is closed.
    void ShowAbout();
    // Copies the firmware update's stage and progress into the progress bar.
    void UpdateProgress();

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    // Escape goes to the keyer console; only closing the window ends the dialog.
    void reject() override;

  private:
    UtilityDlg& dlg_;
    platform::MessageQueue& queue_;
    std::unique_ptr<Ui::UtilityDialog> ui_;
    WidgetBinder* binder_ = nullptr;
    EventLogModel* logModel_ = nullptr;
    std::shared_ptr<QueueWaker> waker_;
    bool scrollPending_ = false;
    bool closing_ = false;
};

// Shows the utility's window and runs the Qt event loop until it is closed. With
// connectAtStart the window presses Connect once it is shown (screenshots of a simulated
// box). A QApplication must exist. Returns the process exit code.
int RunUtilityWindow(UtilityDlg& dlg, platform::MessageQueue& queue, UtilityDialogs& dialogs,
                     const WindowOptions& options, bool connectAtStart);

}  // namespace zuvo::gui
