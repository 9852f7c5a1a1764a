#include "gui/run_window.h"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

#include "gui/main_dialog.h"

namespace zuvo::gui {

bool DisplayAvailable() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') {
            return true;
        }
    }
    return false;
}

Application::Application(int& argc, char** argv) {
    if (!DisplayAvailable()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    app_ = std::make_unique<QApplication>(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ZuvoBox"));
    QApplication::setDesktopFileName(QStringLiteral("zuvobox"));
    QApplication::setWindowIcon(ZuvoIcon());
}

Application::~Application() = default;

void QtDialogs::ShowError(const std::string& text) {
    QMessageBox::critical(nullptr, QStringLiteral("Zuvo Box"), QString::fromStdString(text));
}

void QtDialogs::ShowMessage(const std::string& text) {
    QMessageBox::information(nullptr, QStringLiteral("Zuvo Box"), QString::fromStdString(text));
}

bool QtDialogs::AskYesNo(const std::string& text) {
    return QMessageBox::question(nullptr, QStringLiteral("Zuvo Box"),
                                 QString::fromStdString(text)) == QMessageBox::Yes;
}

std::optional<std::string> QtDialogs::OpenFile(const std::string& filter) {
    const QString file =
        QFileDialog::getOpenFileName(nullptr, QString(), QString(), QString::fromStdString(filter));
    if (file.isEmpty()) {
        return std::nullopt;
    }
    return file.toStdString();
}

int RunWindow(CZuvoDlg& dlg, platform::MessageQueue& queue, const WindowOptions& options) {
    MainDialog window(dlg, queue);
    window.show();
    dlg.OnInitDialog();
    window.DrainQueue();
    int status = 0;
    if (!options.screenshot.empty()) {
        QTimer::singleShot(options.screenshotDelayMs, &window, [&] {
            if (!window.grab().save(QString::fromStdString(options.screenshot), "PNG")) {
                std::fprintf(stderr, "ZuvoBox: cannot write %s\n", options.screenshot.c_str());
                status = 1;
            }
            window.close();
        });
    }
    QApplication::setQuitOnLastWindowClosed(true);
    if (!dlg.Closed()) {
        QApplication::exec();
    }
    return status;
}

}  // namespace zuvo::gui
