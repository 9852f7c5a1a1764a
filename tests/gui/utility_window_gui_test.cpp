// The utility's window on the simulated box (and its boot loader), offscreen.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <fstream>
#include <functional>
#include <set>

#include "core/single_instance.h"
#include "gui/event_log_model.h"
#include "gui/utility_window.h"
#include "gui/widget_binder.h"
#include "sim/sim_bootloader.h"
#include "sim/sim_hid.h"
#include "utility/hex_builder.h"
#include "utility/utility_dlg.h"

namespace zuvo::gui {
namespace {

using namespace utility;

class UtilityScriptedDialogs : public IDialogHost {
  public:
    std::vector<std::string> shown;
    bool answerYes = false;
    std::optional<std::string> file;

    void ShowError(const std::string& text) override { shown.push_back(text); }
    void ShowMessage(const std::string& text) override { shown.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        shown.push_back(text);
        return answerYes;
    }
    std::optional<std::string> OpenFile(const std::string&) override { return file; }
};

void ClickButton(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

bool WaitUntil(const std::function<bool()>& pred, int ms = 3000) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

// A user's choice of the next entry: the arrow key on a closed drop-down.
void ChooseNext(QComboBox* combo) {
    QTest::keyClick(combo, Qt::Key_Down);
}

class UtilityWindowGui : public ::testing::Test {
  protected:
    UtilityWindowGui() {
        hid.WithBox([this](sim::SimBox& box) { loader = &sim::InstallBootLoader(box); });
        window = std::make_unique<UtilityWindow>(dlg, queue);
        window->show();
    }
    ~UtilityWindowGui() override {
        window->close();
        window.reset();
        dlg.Close();
    }
    template <typename W>
    W* Widget(int id) {
        auto* w = qobject_cast<W*>(window->Binder().WidgetFor(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }
    // Connect pressed; the connect queries' answers have arrived once the speed shows.
    void Connect() {
        ClickButton(Widget<QPushButton>(kConnect));
        ASSERT_TRUE(dlg.Link().IsConnectedFlag());
        ASSERT_TRUE(WaitUntil([&] { return Widget<QComboBox>(kSpeed)->currentIndex() >= 0; }));
        ASSERT_TRUE(WaitUntil([&] { return Widget<QComboBox>(kAux4)->currentIndex() >= 0; }));
    }

    sim::SimHidSystem hid;
    sim::SimBootLoaderComponent* loader = nullptr;
    platform::MessageQueue queue;
    UtilityScriptedDialogs dialogs;
    UtilityDlg dlg{hid, queue, dialogs, {{}, [](int) {}}};
    std::unique_ptr<UtilityWindow> window;
};

TEST_F(UtilityWindowGui, EveryControlOfTheUtilityHasItsNamedWidget) {
    // The About entry is the context menu's, not a widget of the form.
    EXPECT_EQ(window->Binder().UnboundIds(), std::vector<int>{kAbout});
    for (const ControlName& c : kControlNames) {
        QWidget* named = window->findChild<QWidget*>(QString::fromLatin1(c.name));
        EXPECT_NE(named, nullptr) << c.name;
        EXPECT_EQ(window->Binder().WidgetFor(c.id), named) << c.name;
    }
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zuvo Box utility"));
    EXPECT_EQ(Widget<QComboBox>(kComp1)->count(), 127);
    EXPECT_EQ(Widget<QComboBox>(kSpeed)->itemText(0), QStringLiteral(" 2"));
    EXPECT_EQ(Widget<QComboBox>(kSpeed)->currentIndex(), -1);  // empty until Connect
    EXPECT_EQ(Widget<QPushButton>(kOverwrite)->text(), QStringLiteral(" Overwrite"));
    EXPECT_NE(qobject_cast<QProgressBar*>(window->ProgressBar()), nullptr);
}

TEST_F(UtilityWindowGui, ACheckBoxAndADropDownReachTheBoxAndItsEchoShows) {
    Connect();
    ASSERT_FALSE(dlg.Mirrors().keyerConfig & 0x20);
    auto* aTiming = Widget<QCheckBox>(kATiming);
    ClickButton(aTiming);
    // The mirror changes only with the box's answer; the widget then shows it.
    EXPECT_TRUE(WaitUntil([&] { return (dlg.Mirrors().keyerConfig & 0x20) != 0; }));
    EXPECT_TRUE(aTiming->isChecked());
    EXPECT_TRUE(dlg.Model().Checked(kATiming));

    auto* speed = Widget<QComboBox>(kSpeed);
    const int before = speed->currentIndex();
    ChooseNext(speed);
    const uint8_t wanted = static_cast<uint8_t>(before + 1 + 2);
    uint8_t boxSpeed = 0;
    EXPECT_TRUE(WaitUntil([&] {
        hid.WithBox([&](sim::SimBox& box) { boxSpeed = box.Setting(0x11); });
        return boxSpeed == wanted;
    }));
    EXPECT_EQ(speed->currentIndex(), before + 1);

    // A radio button of the TX group: Zuvo State bit 0, echoed into the group.
    ClickButton(Widget<QRadioButton>(kTxRadio2));
    EXPECT_TRUE(WaitUntil([&] { return (dlg.Mirrors().zuvoState & 0x01) != 0; }));
    EXPECT_TRUE(Widget<QRadioButton>(kTxRadio2)->isChecked());
    EXPECT_FALSE(Widget<QRadioButton>(kTxRadio1)->isChecked());
}

TEST_F(UtilityWindowGui, NotConnectedAChangeIsRefusedAndTheWidgetClearedAgain) {
    auto* stereo = Widget<QCheckBox>(kStereo);
    ClickButton(stereo);
    EXPECT_FALSE(stereo->isChecked());
    const auto& log = window->LogModel();
    ASSERT_GT(log.rowCount(), 0);
    EXPECT_EQ(log.Line(log.rowCount() - 1), "Connect to Zuvo Box first!");
}

TEST_F(UtilityWindowGui, EnterSendsTheTextLineEscapeAbortsAndNeverCloses) {
    Connect();
    auto* text = Widget<QLineEdit>(kText);
    text->setFocus();
    QTest::keyClicks(text, QStringLiteral("TEST TEST"));
    EXPECT_EQ(dlg.Model().Text(kText), "TEST TEST");
    QTest::keyClick(text, Qt::Key_Return);
    EXPECT_TRUE(dlg.Console().Sending());
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return Widget<QPushButton>(kSend)->text() == "Abort"; }));

    // Escape in the text line reaches the console: it aborts, and the box's Keyer Abort
    // report ends the sending.
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return !dlg.Console().Sending(); }));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(WaitUntil([&] { return Widget<QPushButton>(kSend)->text() == "Send"; }));

    window->close();  // only closing the window ends it
    EXPECT_FALSE(window->isVisible());
}

TEST_F(UtilityWindowGui, ResetAsksFirstAndNoSendsNothing) {
    Connect();
    ClickButton(Widget<QPushButton>(kReset));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].rfind("This will reset the Zuvo Box", 0), 0u);
    EXPECT_TRUE(dlg.Link().IsConnectedFlag());
}

// Reads the labels of the next modal dialog, then closes it.
std::vector<QString> LabelsOfNextModal(const std::function<void()>& open, QString& title) {
    std::vector<QString> texts;
    QTimer::singleShot(50, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        title = modal->windowTitle();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            if (!label->text().isEmpty()) {
                texts.push_back(label->text());
            }
        }
        modal->close();
    });
    open();
    return texts;
}

TEST_F(UtilityWindowGui, AboutShowsTheUtilityAndFirmwareVersions) {
    Connect();
    ASSERT_TRUE(WaitUntil([&] { return !dlg.FirmwareVersionLine().empty(); }));
    QString title;
    const auto texts = LabelsOfNextModal([&] { window->ShowAbout(); }, title);
    EXPECT_EQ(title, QStringLiteral("About Zuvo Box utility"));
    EXPECT_EQ(texts, (std::vector<QString>{QString::fromStdString(dlg.UtilityVersionLine()),
                                           QString::fromStdString(dlg.FirmwareVersionLine())}));
}

TEST_F(UtilityWindowGui, TheContextMenuOffersTheAboutBox) {
    QStringList entries;
    QTimer::singleShot(50, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            entries << action->text();
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            window->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window.get(), &event);
    EXPECT_EQ(entries, QStringList{QStringLiteral("&About Zuvo Box utility...")});
}

TEST_F(UtilityWindowGui, TheProgressBarFollowsAFirmwareUpdate) {
    const std::string path = testing::TempDir() + "utility_window_gui_update.hex";
    std::ofstream(path, std::ios::binary)
        << test::HexData(0x2000, test::FirmwareBytes(0x5FC0, 0x23, 4, 0)) << test::EndRecord();
    dialogs.file = path;
    auto* bar = qobject_cast<QProgressBar*>(window->ProgressBar());
    ASSERT_NE(bar, nullptr);
    std::set<QString> formats;
    std::vector<int> values;
    QObject::connect(bar, &QProgressBar::valueChanged, [&](int v) {
        values.push_back(v);
        formats.insert(bar->format());
    });

    Connect();
    ClickButton(Widget<QPushButton>(kUpdate));  // restarts the box into its boot loader
    auto* connect = Widget<QPushButton>(kConnect);
    ASSERT_TRUE(WaitUntil(
        [&] {
            // Until the boot loader is there, a Connect may still find the old firmware.
            if (!dlg.Link().UpdateMode()) {
                ClickButton(connect);
            }
            return dlg.Link().UpdateMode();
        },
        10000));
    EXPECT_EQ(bar->value(), 0);
    ClickButton(Widget<QPushButton>(kUpdate));
    ASSERT_TRUE(WaitUntil(
        [&] {
            const auto stage = dlg.Updater().CurrentStage();
            return stage == FirmwareUpdater::Stage::kRestarted ||
                   stage == FirmwareUpdater::Stage::kFailed;
        },
        10000));
    EXPECT_EQ(dlg.Updater().CurrentStage(), FirmwareUpdater::Stage::kRestarted);
    EXPECT_EQ(bar->value(), bar->maximum());
    EXPECT_EQ(bar->format(), QStringLiteral("Done"));
    // Verification follows the boot loader's answers, so the bar shows steps of it.
    const bool partial = std::any_of(values.begin(), values.end(),
                                     [&](int v) { return v > 0 && v < bar->maximum(); });
    EXPECT_TRUE(partial) << values.size();
    EXPECT_TRUE(std::any_of(formats.begin(), formats.end(), [](const QString& f) {
        return f.startsWith(QStringLiteral("Verifying ")) && f.endsWith(QLatin1Char('%'));
    }));
    std::remove(path.c_str());
}

TEST(UtilityDialogs, TheHexFilterInQtForm) {
    EXPECT_EQ(UtilityDialogs::QtFilter("Intel hex files (.hex)|*.HEX||"),
              QStringLiteral("Intel hex files (.hex) (*.HEX *.hex)"));
    EXPECT_EQ(UtilityDialogs::QtFilter("A|*.a|B|*.B;*.c||"),
              QStringLiteral("A (*.a);;B (*.B *.b *.c)"));
}

TEST(UtilityDialogs, TheSingleInstanceRefusalIsAnErrorBoxUnderTheUtilityTitle) {
    UtilityDialogs dialogs;
    QString title;
    const auto texts = LabelsOfNextModal([&] { dialogs.ShowError(kRefusalText); }, title);
    EXPECT_EQ(title, QStringLiteral("Zuvo Box utility"));
    EXPECT_NE(std::find(texts.begin(), texts.end(), QString::fromLatin1(kRefusalText)),
              texts.end());
}

}  // namespace
}  // namespace zuvo::gui
