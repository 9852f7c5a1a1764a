#pragma once

#include <QWidget>
#include <memory>

#include "platform/message_queue.h"
#include "ui/zuvo_dlg.h"

namespace Ui {
class MainDialog;
}

namespace zuvo::gui {

class EventLogModel;
class WidgetBinder;
class QueueWaker;

// The interface program's main window: the form of main_dialog.ui bound to the main
// dialog's window model, the event log list, and the Qt side of the dialog's messages
// (posted messages drained on the GUI thread, close, the About box). No decisions here.
class MainDialog final : public QWidget {
  public:
    // Takes over the queue's notifier and the event log's observer; construct it before
    // the dialog's start-up so that every line and every posted message reaches it.
    MainDialog(CZuvoDlg& dlg, platform::MessageQueue& queue, QWidget* parent = nullptr);
    ~MainDialog() override;

    WidgetBinder& Binder() { return *binder_; }
    EventLogModel& LogModel() { return *logModel_; }

    // Dispatches every queued message in order; closes the window once the dialog closed.
    void DrainQueue();
    // The About dialog, modal. Returns when it is closed.
    void ShowAbout();

  protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void UpdateStatusLook();

    CZuvoDlg& dlg_;
    platform::MessageQueue& queue_;
    std::unique_ptr<Ui::MainDialog> ui_;
    WidgetBinder* binder_ = nullptr;
    EventLogModel* logModel_ = nullptr;
    std::shared_ptr<QueueWaker> waker_;
    bool scrollPending_ = false;
};

// The window icon, drawn so that no image plugin is needed.
QIcon ZuvoIcon();

}  // namespace zuvo::gui
