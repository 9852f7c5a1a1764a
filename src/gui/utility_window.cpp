#include "gui/utility_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <cstdio>
#include <mutex>

#include "gui/event_log_model.h"
#include "gui/main_dialog.h"
#include "gui/queue_waker.h"
#include "gui/widget_binder.h"
#include "ui_utility_dialog.h"
#include "utility/utility_ids.h"

namespace zuvo::gui {

namespace {

const QString kTitle = QStringLiteral("Zuvo Box utility");

int UtilityIdFromName(const QString& objectName) {
    for (const utility::ControlName& c : utility::kControlNames) {
        if (objectName == QLatin1String(c.name)) {
            return c.id;
        }
    }
    return -1;
}

}  // namespace

QString UtilityDialogs::QtFilter(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) {
            break;  // the closing "||"
        }
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            patterns << p;
            if (p.toLower() != p) {
                patterns << p.toLower();
            }
        }
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QLatin1Char(' ')));
    }
    return filters.join(QStringLiteral(";;"));
}

void UtilityDialogs::ShowError(const std::string& text) {
    QMessageBox::critical(parent_, kTitle, QString::fromStdString(text));
}

void UtilityDialogs::ShowMessage(const std::string& text) {
    QMessageBox::information(parent_, kTitle, QString::fromStdString(text));
}

bool UtilityDialogs::AskYesNo(const std::string& text) {
    return QMessageBox::question(parent_, kTitle, QString::fromStdString(text),
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

std::optional<std::string> UtilityDialogs::OpenFile(const std::string& filter) {
    // The dialog's ExistingFile mode already refuses a name that does not exist; the check
    // below also covers a file removed between choosing and returning.
    const QString file =
        QFileDialog::getOpenFileName(parent_, QString(), QString(), QtFilter(filter));
    if (file.isEmpty() || !QFileInfo(file).isFile()) {
        return std::nullopt;
    }
    return file.toStdString();
}

UtilityWindow::UtilityWindow(UtilityDlg& dlg, platform::MessageQueue& queue, QWidget* parent)
    : QDialog(parent), dlg_(dlg), queue_(queue), ui_(std::make_unique<Ui::UtilityDialog>()) {
    ui_->setupUi(this);
    setWindowIcon(ZuvoIcon());
    // A top-level window of its own: minimise and maximise like any program window.
    setWindowFlags(Qt::Window | Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);

    logModel_ = new EventLogModel(this);
    ui_->log->setModel(logModel_);
    dlg_.Log().SetKeepLines(false);  // the list model holds the lines
    dlg_.SetLineObserver([this](const std::string& line) {
        logModel_->Append(line);
        // Scrolling once per burst keeps a verbose flood cheap.
        if (!scrollPending_) {
            scrollPending_ = true;
            QTimer::singleShot(0, this, [this] {
                scrollPending_ = false;
                ui_->log->scrollToBottom();
            });
        }
    });

    binder_ = new WidgetBinder(
        dlg_.Model(), this,
        [this](int id) {
            dlg_.OnControlChanged(id);
            UpdateProgress();
        },
        &UtilityIdFromName);
    dlg_.Model().SetObserver([this](int id) {
        if (id == WindowModel::kRefresh) {
            binder_->PullAll();
            UpdateProgress();
        } else {
            binder_->Pull(id);
        }
    });
    UpdateProgress();

    waker_ = QueueWaker::Attach(queue_, this, [this] { DrainQueue(); });
}

UtilityWindow::~UtilityWindow() {
    waker_->Detach();
    dlg_.SetLineObserver(nullptr);
    dlg_.Model().SetObserver(nullptr);
}

QWidget* UtilityWindow::ProgressBar() const {
    return ui_->updateProgress;
}

void UtilityWindow::DrainQueue() {
    waker_->DrainStarted();
    platform::Message message;
    while (queue_.TryGet(message)) {
        if (message.id == platform::kMsgClose || message.id == platform::kMsgQuit) {
            close();
            return;
        }
        dlg_.Dispatch(message);
    }
    UpdateProgress();
}

void UtilityWindow::UpdateProgress() {
    const FirmwareUpdater& updater = dlg_.Updater();
    // The caption holds the percentage itself; its "%" ends it, so Qt reads no placeholder.
    const QString caption = QString::fromStdString(updater.ProgressCaption());
    if (ui_->updateProgress->format() != caption) {
        ui_->updateProgress->setFormat(caption);
    }
    const int value = updater.ProgressPercent() * ui_->updateProgress->maximum() / 100;
    if (ui_->updateProgress->value() != value) {
        ui_->updateProgress->setValue(value);
    }
}

void UtilityWindow::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            dlg_.OnKey(UtilityDlg::Key::kEscape);
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            dlg_.OnKey(UtilityDlg::Key::kEnter);
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void UtilityWindow::reject() {
    if (closing_) {
        QDialog::reject();
    }
}

void UtilityWindow::closeEvent(QCloseEvent* event) {
    closing_ = true;
    QDialog::closeEvent(event);
}

// Linux window managers own the title bar's menu, so the About entry lives in the
// window's own context menu.
void UtilityWindow::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromStdString(dlg_.Model().Text(utility::kAbout)), this,
                   [this] { ShowAbout(); });
    menu.exec(event->globalPos());
}

void UtilityWindow::ShowAbout() {
    QDialog about(this);
    about.setObjectName(QStringLiteral("aboutDialog"));
    about.setWindowTitle(QStringLiteral("About Zuvo Box utility"));
    auto* layout = new QVBoxLayout(&about);
    auto* icon = new QLabel(&about);
    icon->setPixmap(ZuvoIcon().pixmap(48, 48));
    layout->addWidget(icon);
    auto* version = new QLabel(QString::fromStdString(dlg_.UtilityVersionLine()), &about);
    version->setObjectName(QStringLiteral("utilityVersion"));
    layout->addWidget(version);
    auto* firmware = new QLabel(QString::fromStdString(dlg_.FirmwareVersionLine()), &about);
    firmware->setObjectName(QStringLiteral("firmwareVersion"));
    layout->addWidget(firmware);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.exec();
}

int RunUtilityWindow(UtilityDlg& dlg, platform::MessageQueue& queue, UtilityDialogs& dialogs,
                     const WindowOptions& options, bool connectAtStart) {
    UtilityWindow window(dlg, queue);
    dialogs.SetParent(&window);
    window.show();
    if (connectAtStart) {
        dlg.OnControlChanged(utility::kConnect);
    }
    window.DrainQueue();
    int status = 0;
    if (!options.screenshot.empty()) {
        QTimer::singleShot(options.screenshotDelayMs, &window, [&] {
            if (!window.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "ZuvoBoxUtility: cannot write %s\n",
                             options.screenshot.c_str());
                status = 1;
            }
            window.close();
        });
    }
    QApplication::setQuitOnLastWindowClosed(true);
    // A close command queued before the window was shown has closed it already; the event
    // loop would then never be told to quit.
    if (window.isVisible()) {
        QApplication::exec();
    }
    dialogs.SetParent(nullptr);
    return status;
}

}  // namespace zuvo::gui
