#include "gui/main_dialog.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDialogButtonBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QStyle>
#include <QTimer>
#include <QVBoxLayout>
#include <atomic>
#include <mutex>

#include "gui/event_log_model.h"
#include "gui/queue_waker.h"
#include "gui/widget_binder.h"
#include "ui/main_ids.h"
#include "ui/status_look.h"
#include "ui_main_dialog.h"

namespace zuvo::gui {

namespace {

// Sets a style property only when it changes: re-polishing at every report would cost
// more than the whole report handling.
void SetLook(QWidget* widget, const char* name, const QString& value) {
    if (widget == nullptr || widget->property(name).toString() == value) {
        return;
    }
    widget->setProperty(name, value);
    widget->style()->unpolish(widget);
    widget->style()->polish(widget);
}

QString CssColour(Rgb c) {
    return QStringLiteral("#%1%2%3")
        .arg(c.r, 2, 16, QLatin1Char('0'))
        .arg(c.g, 2, 16, QLatin1Char('0'))
        .arg(c.b, 2, 16, QLatin1Char('0'));
}

// The status texts' size and the colours of their looks, shared with every front end.
QString StatusStyleSheet() {
    QString sheet;
    for (int id : {ids::kRxText, ids::kTxText, ids::kStereoText, ids::kPttText, ids::kSpeedText,
                   ids::kAntennas1Text, ids::kAntennas2Text, ids::kTuneText}) {
        sheet += QStringLiteral("QLabel#c%1 { font-size: %2pt; }\n").arg(id).arg(kStatusTextPoints);
    }
    const struct {
        const char* selector;
        StatusLook look;
    } rules[] = {{"QLabel[radio=\"1\"]", StatusLook::kRadio1},
                 {"QLabel[radio=\"2\"]", StatusLook::kRadio2},
                 {"QLabel[radio=\"inhibit\"]", StatusLook::kInhibit},
                 {"QLabel#c1064[on=\"true\"]", StatusLook::kPttOn},
                 {"QLabel#c1063[on=\"true\"]", StatusLook::kTuneOn}};
    for (const auto& rule : rules) {
        const StatusColours colours = ColoursOf(rule.look);
        sheet += QStringLiteral("%1 { background: %2; color: %3; }\n")
                     .arg(QLatin1String(rule.selector), CssColour(colours.background),
                          CssColour(colours.text));
    }
    return sheet;
}

QString RadioLook(int id, const QString& text) {
    switch (StatusLookOf(id, text.toStdString())) {
        case StatusLook::kRadio1:
            return QStringLiteral("1");
        case StatusLook::kRadio2:
            return QStringLiteral("2");
        case StatusLook::kInhibit:
            return QStringLiteral("inhibit");
        default:
            return {};
    }
}

QString OnLook(int id, const QString& text) {
    return StatusLookOf(id, text.toStdString()) == StatusLook::kPlain ? QStringLiteral("false")
                                                                      : QStringLiteral("true");
}

}  // namespace

QIcon ZuvoIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(0x15, 0x65, 0xc0));
        p.setPen(Qt::NoPen);
        p.drawRoundedRect(QRectF(0, 0, size, size), size / 6.0, size / 6.0);
        p.setBrush(QColor(0xef, 0x6c, 0x00));
        p.drawRoundedRect(QRectF(size / 2.0, 0, size / 2.0, size), size / 6.0, size / 6.0);
        QFont font = p.font();
        font.setBold(true);
        font.setPixelSize(size * 3 / 4);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(0, 0, size, size), Qt::AlignCenter, QStringLiteral("Z"));
        icon.addPixmap(pixmap);
    }
    return icon;
}

MainDialog::MainDialog(CZuvoDlg& dlg, platform::MessageQueue& queue, QWidget* parent)
    : QWidget(parent), dlg_(dlg), queue_(queue), ui_(std::make_unique<Ui::MainDialog>()) {
    ui_->setupUi(this);
    setStyleSheet(styleSheet() + QLatin1Char('\n') + StatusStyleSheet());
    setWindowIcon(ZuvoIcon());

    logModel_ = new EventLogModel(this);
    ui_->c1021->setModel(logModel_);
    // The list shows the lines; the log need not keep a second copy of each.
    dlg_.Log().SetKeepLines(false);
    dlg_.Log().SetObserver([this](const std::string& line) {
        logModel_->Append(line);
        // Scrolling once per burst keeps a verbose flood cheap.
        if (!scrollPending_) {
            scrollPending_ = true;
            QTimer::singleShot(0, this, [this] {
                scrollPending_ = false;
                ui_->c1021->scrollToBottom();
            });
        }
    });

    binder_ = new WidgetBinder(dlg_.Window().Model(), this, [this](int id) {
        dlg_.OnControlChanged(id);
        UpdateStatusLook();
    });
    dlg_.Window().Model().SetObserver([this](int id) {
        if (id == WindowModel::kRefresh) {
            binder_->PullAll();
            UpdateStatusLook();
        } else {
            binder_->Pull(id);
        }
    });

    waker_ = QueueWaker::Attach(queue_, this, [this] { DrainQueue(); });
}

MainDialog::~MainDialog() {
    waker_->Detach();
    dlg_.Log().SetObserver(nullptr);
    dlg_.Window().Model().SetObserver(nullptr);
}

void MainDialog::DrainQueue() {
    waker_->DrainStarted();
    platform::Message message;
    while (!dlg_.Closed() && queue_.TryGet(message)) {
        if (message.id == platform::kMsgQuit) {
            continue;
        }
        dlg_.Dispatch(message);
    }
    if (dlg_.Closed()) {
        close();
    }
}

void MainDialog::UpdateStatusLook() {
    SetLook(ui_->c1034, "radio", RadioLook(ids::kTxText, ui_->c1034->text()));
    SetLook(ui_->c1033, "radio", RadioLook(ids::kRxText, ui_->c1033->text()));
    SetLook(ui_->c1064, "on", OnLook(ids::kPttText, ui_->c1064->text()));
    SetLook(ui_->c1063, "on", OnLook(ids::kTuneText, ui_->c1063->text()));
}

void MainDialog::closeEvent(QCloseEvent* event) {
    if (!dlg_.Closed()) {
        dlg_.OnClose();
    }
    event->accept();
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Escape:
            dlg_.OnDialogKey(CZuvoDlg::DialogKey::kEscape);
            event->accept();
            return;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            dlg_.OnDialogKey(CZuvoDlg::DialogKey::kEnter);
            event->accept();
            return;
        default:
            QWidget::keyPressEvent(event);
    }
}

// Linux window managers own the title bar's menu, so the About entry lives in the
// window's own context menu.
void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
    QMenu menu(this);
    menu.addAction(QString::fromLatin1(ids::kAboutMenuText), this, [this] { ShowAbout(); });
    menu.exec(event->globalPos());
}

void MainDialog::ShowAbout() {
    QDialog about(this);
    about.setObjectName(QStringLiteral("aboutDialog"));
    about.setWindowTitle(QStringLiteral("About Zuvo Box"));
    auto* layout = new QVBoxLayout(&about);
    auto* icon = new QLabel(&about);
    icon->setPixmap(ZuvoIcon().pixmap(48, 48));
    layout->addWidget(icon);
    auto* version = new QLabel(QString::fromStdString(dlg_.Window().VersionText()), &about);
    version->setObjectName(QStringLiteral("c%1").arg(ids::kAboutVersion));
    layout->addWidget(version);
    auto* firmware =
        new QLabel(QString::fromStdString(dlg_.Window().FirmwareVersionText()), &about);
    firmware->setObjectName(QStringLiteral("c%1").arg(ids::kAboutFirmware));
    layout->addWidget(firmware);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, &about);
    connect(buttons, &QDialogButtonBox::accepted, &about, &QDialog::accept);
    layout->addWidget(buttons);
    about.exec();
}

}  // namespace zuvo::gui
