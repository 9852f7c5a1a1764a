#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <string>

#include "core/single_instance.h"
#include "gui/event_log_model.h"
#include "gui/main_dialog.h"
#include "gui/run_window.h"
#include "gui/widget_binder.h"
#include "link/box_protocol.h"
#include "platform/errors.h"
#include "platform/fake/fake_host_port.h"
#include "platform/fake/memory_profile.h"
#include "sim/sim_hid.h"
#include "ui/main_ids.h"
#include "ui/zuvo_dlg.h"

namespace zuvo::gui {
namespace {

using namespace ids;

class NoDialogs : public IDialogHost {
  public:
    void ShowError(const std::string&) override {}
    void ShowMessage(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
};

// A user's click on the button's indicator (a check box stretched by its layout takes no
// click beyond its text).
void Click(QAbstractButton* button) {
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
}

// Runs the Qt event loop until pred holds or two seconds have passed.
bool WaitFor(const std::function<bool()>& pred) {
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > 2000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QTest::qWait(5);
    }
    return true;
}

// The windowed program on the simulated box, settings in memory.
class MainWindowGui : public ::testing::Test {
  protected:
    MainWindowGui() {
        dlg.SetHostPortSystem(ports);
        window = std::make_unique<MainDialog>(dlg, queue);
        window->show();
        dlg.OnInitDialog();
        window->DrainQueue();
        // The connect query's answers have arrived once the speed shows.
        EXPECT_TRUE(WaitFor([&] { return !dlg.Window().Model().Text(kSpeedText).empty(); }));
    }
    ~MainWindowGui() override {
        window->close();
        window.reset();
    }
    template <typename W>
    W* Widget(int id) {
        auto* w = qobject_cast<W*>(window->Binder().WidgetFor(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }

    sim::SimHidSystem hid;
    platform::fake::FakeHostPortSystem ports;
    platform::MessageQueue queue;
    platform::fake::MemoryProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    NoDialogs dialogs;
    CZuvoDlg dlg{{hid, queue, settings, dialogs, "", [](std::chrono::milliseconds) {}}};
    std::unique_ptr<MainDialog> window;
};

TEST_F(MainWindowGui, TheFormHasAWidgetForEveryControlAndNoStrayControlNames) {
    EXPECT_EQ(window->Binder().UnboundIds(), std::vector<int>{});
    for (QWidget* w : window->findChildren<QWidget*>()) {
        const int id = WidgetBinder::IdFromName(w->objectName());
        if (id >= 0) {
            EXPECT_TRUE(dlg.Window().Model().Has(id)) << w->objectName().toStdString();
        }
    }
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Zuvo Box"));
    EXPECT_EQ(Widget<QComboBox>(kWeightList)->count(), 256);
    EXPECT_EQ(Widget<QComboBox>(kKeyerPortList)->itemText(0), QStringLiteral("COM1"));
}

TEST_F(MainWindowGui, ClickingEachKindOfWidgetReachesTheSimulatedBox) {
    const BoxState& state = dlg.State();
    // Check box: A timing is keyer configuration bit 5; the box's echo checks the widget.
    ASSERT_FALSE(state.keyerConfig & 0x20);
    Click(Widget<QCheckBox>(kATiming));
    EXPECT_TRUE(WaitFor([&] { return (state.keyerConfig & 0x20) != 0; }));
    EXPECT_TRUE(Widget<QCheckBox>(kATiming)->isChecked());

    // Radio button: "Dah" is keyer mode 3.
    Click(Widget<QRadioButton>(kModeDah));
    EXPECT_TRUE(WaitFor([&] { return (state.keyerConfig & 0x07) == 3; }));
    EXPECT_TRUE(Widget<QRadioButton>(kModeDah)->isChecked());
    EXPECT_FALSE(Widget<QRadioButton>(kModeIambic)->isChecked());

    // Drop-down: a user choice is the activated signal; index 5 is a pot minimum of 7.
    auto* potMin = Widget<QComboBox>(kPotMinList);
    potMin->setCurrentIndex(5);
    emit potMin->activated(5);
    EXPECT_TRUE(WaitFor([&] { return dlg.Window().Model().Selection(kPotMinList) == 5; }));

    // Manual switching: "TX 2" posts the TX2 line, which reaches the box as Zuvo State.
    Click(Widget<QRadioButton>(kTx2));
    EXPECT_TRUE(WaitFor([&] { return (state.switchingState & box::kStateTxRadio2) != 0; }));
    EXPECT_EQ(Widget<QLabel>(kTxText)->text(), QStringLiteral("TX2"));
    EXPECT_EQ(Widget<QLabel>(kTxText)->property("radio").toString(), QStringLiteral("2"));

    // Verbose check box: persisted, and the next box report is logged.
    Click(Widget<QCheckBox>(kVerboseOutput));
    EXPECT_TRUE(settings.ReadBool("Box", "Verbose", false));
    Click(Widget<QRadioButton>(kTx1));
    EventLogModel& log = window->LogModel();
    EXPECT_TRUE(WaitFor([&] {
        return log.rowCount() > 0 && log.Line(log.rowCount() - 1).rfind("* Received ", 0) == 0;
    }));
    EXPECT_TRUE(dlg.Log().Lines().empty());  // the list holds the only copy
}

TEST_F(MainWindowGui, ModelChangesShowInTheWidgets) {
    WindowModel& m = dlg.Window().Model();
    m.SetText(kPttText, "PTT");
    m.SetText(kTxText, "TX1 (Inhibit)");
    m.Refresh();
    EXPECT_EQ(Widget<QLabel>(kPttText)->text(), QStringLiteral("PTT"));
    EXPECT_EQ(Widget<QLabel>(kPttText)->property("on").toString(), QStringLiteral("true"));
    EXPECT_EQ(Widget<QLabel>(kTxText)->property("radio").toString(), QStringLiteral("inhibit"));
    m.SetEnabled(kPipes, false);
    EXPECT_FALSE(Widget<QCheckBox>(kPipes)->isEnabled());
    m.SetVisible(kStereo, false);
    EXPECT_TRUE(Widget<QCheckBox>(kStereo)->isHidden());
    m.SetSelection(kBlendList, 17);
    EXPECT_EQ(Widget<QComboBox>(kBlendList)->currentIndex(), 17);

    // The unplugged box: the whole disconnected look, the radio groups left unchecked.
    hid.Unplug();
    EXPECT_TRUE(WaitFor([&] { return !dlg.Link().IsConnectedFlag(); }));
    WaitFor([] { return false; });  // let the last messages through
    for (int id : {kModeIambic, kModeUltimatic, kModeDit, kModeDah, kModeStraight, kPhonesNormal,
                   kPhonesSymmetric, kPhonesSpatial}) {
        EXPECT_FALSE(Widget<QRadioButton>(id)->isChecked()) << id;
        EXPECT_FALSE(Widget<QRadioButton>(id)->isEnabled()) << id;
    }
    EXPECT_EQ(Widget<QComboBox>(kWeightList)->currentIndex(), -1);
    EXPECT_EQ(Widget<QLabel>(kSpeedText)->text(), QString());
    hid.Replug();
    EXPECT_TRUE(WaitFor([&] { return Widget<QComboBox>(kWeightList)->isEnabled(); }));
}

TEST_F(MainWindowGui, EnterAndEscapeDoNotCloseTheTitleBarCloseDoes) {
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::keyClick(window.get(), Qt::Key_Return);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(dlg.Closed());
    window->close();
    EXPECT_TRUE(dlg.Closed());
    EXPECT_FALSE(window->isVisible());
}

TEST_F(MainWindowGui, PortRulesFollowTheClicks) {
    auto* pipes = Widget<QCheckBox>(kPipes);
    auto* keyer = Widget<QCheckBox>(kKeyerPortCheck);
    auto* zuvo = Widget<QCheckBox>(kZuvoPortCheck);
    for (int i = 0; i < 4; ++i) {
        const size_t opened = ports.opened.size();
        Click(pipes);
        ASSERT_TRUE(pipes->isChecked());
        EXPECT_EQ(ports.opened.size(), opened + 2);  // the keyer pipe, then the switching pipe
        EXPECT_FALSE(keyer->isEnabled());
        EXPECT_FALSE(Widget<QComboBox>(kZuvoPortList)->isEnabled());
        EXPECT_TRUE(Widget<QRadioButton>(kTx1)->isHidden());  // a logger drives switching
        Click(pipes);
        EXPECT_FALSE(pipes->isChecked());
        EXPECT_TRUE(keyer->isEnabled());
        EXPECT_FALSE(Widget<QRadioButton>(kTx1)->isHidden());
    }
    EXPECT_FALSE(settings.ReadBool("Zuvo", "Auto", true));

    // A COM port that cannot be opened: its box is unchecked and "Pipes" offered again.
    Widget<QComboBox>(kKeyerPortList)->setCurrentIndex(2);
    emit Widget<QComboBox>(kKeyerPortList)->activated(2);
    ports.failOpen = platform::kErrorAccessDenied;
    Click(keyer);
    EXPECT_FALSE(keyer->isChecked());
    EXPECT_TRUE(pipes->isEnabled());
    EXPECT_EQ(window->LogModel().Line(window->LogModel().rowCount() - 3),
              "Cannot open keyer port: ");
    // Each COM number shows the device it opens; the entries keep their own texts.
    auto* list = Widget<QComboBox>(kKeyerPortList);
    EXPECT_EQ(list->itemText(2), QStringLiteral("COM3"));
    EXPECT_EQ(list->itemData(2, Qt::ToolTipRole).toString(), QStringLiteral("/dev/ttyS2"));
    EXPECT_EQ(list->toolTip(), QStringLiteral("COM3: /dev/ttyS2"));

    // A new COM port reopens an open port, and is only saved for a closed one.
    ports.failOpen = 0;
    Widget<QComboBox>(kZuvoPortList)->setCurrentIndex(0);
    emit Widget<QComboBox>(kZuvoPortList)->activated(0);
    Click(zuvo);
    ASSERT_TRUE(zuvo->isChecked());
    EXPECT_FALSE(pipes->isEnabled());
    const size_t opened = ports.opened.size();
    Widget<QComboBox>(kZuvoPortList)->setCurrentIndex(3);
    emit Widget<QComboBox>(kZuvoPortList)->activated(3);
    EXPECT_EQ(ports.opened.size(), opened + 1);
    EXPECT_EQ(settings.ReadInt("Zuvo", "Port", -1), 3);
    Widget<QComboBox>(kKeyerPortList)->setCurrentIndex(5);
    emit Widget<QComboBox>(kKeyerPortList)->activated(5);
    EXPECT_EQ(ports.opened.size(), opened + 1);
    EXPECT_EQ(settings.ReadInt("Keyer", "Port", -1), 5);
}

// Reads the texts of the next modal dialog, then closes it.
std::vector<QString> TextsOfNextModal(const std::function<void()>& open, QString& title) {
    std::vector<QString> texts;
    QTimer::singleShot(50, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        title = modal->windowTitle();
        for (QLabel* label : modal->findChildren<QLabel*>()) {
            texts.push_back(label->objectName() + "=" + label->text());
        }
        modal->close();
    });
    open();
    return texts;
}

bool HasText(const std::vector<QString>& texts, const QString& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

TEST_F(MainWindowGui, TheLogListKeepsTheLatestLinesInBoundedMemory) {
    constexpr size_t kMost = EventLog::kListLines + EventLog::kListTrim;
    auto fill = [&](size_t from, size_t count) {
        for (size_t i = from; i < from + count; ++i) {
            dlg.Log().LogMessage("* Received Keyer Pot Speed 0x" + std::to_string(100000 + i));
        }
    };
    fill(0, kMost);
    const size_t held = window->LogModel().BytesHeld();
    fill(kMost, 3 * kMost);
    const EventLogModel& list = window->LogModel();
    EXPECT_GE(static_cast<size_t>(list.rowCount()), EventLog::kListLines);
    EXPECT_LE(static_cast<size_t>(list.rowCount()), kMost);
    EXPECT_EQ(list.Line(list.rowCount() - 1),
              "* Received Keyer Pot Speed 0x" + std::to_string(100000 + 4 * kMost - 1));
    EXPECT_EQ(list.Line(list.rowCount() - 2),
              "* Received Keyer Pot Speed 0x" + std::to_string(100000 + 4 * kMost - 2));
    // Three times as many lines again, and the list holds no more than when it first filled.
    EXPECT_LE(list.BytesHeld(), held);
}

TEST_F(MainWindowGui, AboutShowsTheProgramAndFirmwareVersions) {
    QString title;
    const auto texts = TextsOfNextModal([&] { window->ShowAbout(); }, title);
    EXPECT_EQ(title, QStringLiteral("About Zuvo Box"));
    EXPECT_TRUE(HasText(texts, "c1075=" + QString::fromStdString(dlg.Window().VersionText())));
    EXPECT_TRUE(
        HasText(texts, "c1076=" + QString::fromStdString(dlg.Window().FirmwareVersionText())));
    EXPECT_FALSE(dlg.Window().FirmwareVersionText().empty());
}

TEST(QtDialogs, TheSingleInstanceRefusalIsAnErrorBox) {
    QtDialogs dialogs;
    QString title;
    const auto texts = TextsOfNextModal([&] { dialogs.ShowError(kRefusalText); }, title);
    bool found = false;
    for (const QString& t : texts) {
        found = found || t.endsWith(QString::fromLatin1(kRefusalText));
    }
    EXPECT_TRUE(found);
}

// The binder on a small form of its own, for the kinds the main window does not use.
TEST(WidgetBinder, PushButtonsAndListWidgetsBindBothWays) {
    WindowModel model;
    Control push;
    push.text = "Connect";
    model.Add(5, push);
    Control list;
    list.items = {"one", "two"};
    model.Add(6, list);
    model.Add(7);  // no widget
    QWidget form;
    auto* button = new QPushButton(&form);
    button->setObjectName(QStringLiteral("c5"));
    button->setCheckable(true);
    auto* listWidget = new QListWidget(&form);
    listWidget->setObjectName(QStringLiteral("c6"));
    std::vector<int> changed;
    WidgetBinder binder(model, &form, [&](int id) { changed.push_back(id); });

    EXPECT_EQ(button->text(), QStringLiteral("Connect"));
    EXPECT_EQ(listWidget->count(), 2);
    EXPECT_EQ(binder.UnboundIds(), std::vector<int>{7});
    form.show();
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(model.Checked(5));
    EXPECT_EQ(changed, std::vector<int>{5});
    model.SetChecked(5, false);  // a program change is not reported back
    EXPECT_FALSE(button->isChecked());
    model.SetSelection(6, 1);
    EXPECT_EQ(listWidget->currentRow(), 1);
    EXPECT_EQ(changed.size(), 1u);
    EXPECT_EQ(WidgetBinder::IdFromName(QStringLiteral("c1011")), 1011);
    EXPECT_EQ(WidgetBinder::IdFromName(QStringLiteral("keyerGroup")), -1);
}

}  // namespace
}  // namespace zuvo::gui
