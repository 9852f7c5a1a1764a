// Both Windows windows in-process, on the simulated box, clicked through the way a user's
// clicks arrive: BM_CLICK on buttons, a choice in a drop-down as CBN_SELCHANGE, typing as
// the edit's own EN_CHANGE. Runs under Wine with a display (Xvfb in CI).

#include <windows.h>

#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/settings_store.h"
#include "gui/win32/main_dialog.h"
#include "gui/win32/resources/resource_ids.h"
#include "gui/win32/utility_dialog.h"
#include "link/box_protocol.h"
#include "platform/fake/fake_host_port.h"
#include "platform/fake/memory_profile.h"
#include "sim/sim_bootloader.h"
#include "sim/sim_hid.h"
#include "ui/main_ids.h"
#include "ui/zuvo_dlg.h"
#include "utility/hex_builder.h"
#include "utility/utility_dlg.h"
#include "utility/utility_ids.h"

namespace zuvo::gui::win32 {
namespace {

class ScriptedDialogs : public IDialogHost {
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

// The window's thread: pumps its messages (the dialog's keyboard handling included) and
// hands what the read threads queued to dispatch, until pred holds or the time is up.
bool PumpUntil(HWND dialog, platform::MessageQueue& queue,
               const std::function<void(const platform::Message&)>& dispatch,
               const std::function<bool()>& pred, int ms = 3000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (!::IsDialogMessageA(dialog, &msg)) {
                ::TranslateMessage(&msg);
                ::DispatchMessageA(&msg);
            }
        }
        platform::Message m;
        while (queue.TryGet(m)) {
            dispatch(m);
        }
        if (pred()) {
            return true;
        }
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        ::Sleep(5);
    }
}

void Click(HWND button) {
    ::SendMessageA(button, BM_CLICK, 0, 0);
}

// A user's choice in a closed drop-down list: the selection, then the notification the
// list sends its dialog.
void Choose(HWND combo, int index) {
    ::SendMessageA(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    ::SendMessageA(::GetParent(combo), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(combo), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(combo));
}

bool Checked(HWND button) {
    return ::SendMessageA(button, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

std::vector<std::string> ListLines(HWND list) {
    std::vector<std::string> lines;
    const int count = static_cast<int>(::SendMessageA(list, LB_GETCOUNT, 0, 0));
    for (int i = 0; i < count; ++i) {
        std::string line(static_cast<size_t>(::SendMessageA(list, LB_GETTEXTLEN, i, 0)), '\0');
        ::SendMessageA(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(line.data()));
        lines.push_back(line);
    }
    return lines;
}

bool HasLineStarting(HWND list, const std::string& start) {
    for (const std::string& line : ListLines(list)) {
        if (line.rfind(start, 0) == 0) {
            return true;
        }
    }
    return false;
}

// --- The interface program's window --------------------------------------------------------

class MainWindowWin32 : public ::testing::Test {
  protected:
    MainWindowWin32() {
        dlg.SetHostPortSystem(ports);
        window = std::make_unique<MainDialog>(dlg, messages);
        if (!window->Create()) {
            ADD_FAILURE() << "the dialog was not created: " << ::GetLastError();
            return;
        }
        ::ShowWindow(window->Handle(), SW_SHOW);
        dlg.OnInitDialog();
        // The connect query's answers have arrived once the speed shows.
        EXPECT_TRUE(Pump([&] { return !dlg.Window().Model().Text(ids::kSpeedText).empty(); }));
    }
    ~MainWindowWin32() override { window.reset(); }

    HWND Control(int id) const { return ::GetDlgItem(window->Handle(), id); }
    bool Pump(const std::function<bool()>& pred) {
        return PumpUntil(
            window->Handle(), queue, [&](const platform::Message& m) { dlg.Dispatch(m); }, pred);
    }

    sim::SimHidSystem hid;
    platform::fake::FakeHostPortSystem ports;
    platform::MessageQueue queue;
    platform::fake::MemoryProfile profile;
    SettingsStore settings{profile, "ZuvoBox.ini"};
    ScriptedDialogs dialogs;
    CZuvoDlg dlg{{hid, queue, settings, dialogs, "", [](std::chrono::milliseconds) {}}};
    platform::win32::MessageWindow messages;
    std::unique_ptr<MainDialog> window;
};

TEST_F(MainWindowWin32, TheTemplateHasEveryControlOfTheModelAndTheWindowMenuTheAboutEntry) {
    ASSERT_NE(window->Handle(), nullptr);
    EXPECT_EQ(window->Binder().UnboundIds(), std::vector<int>{});
    EXPECT_EQ(WindowText(window->Handle()), "Zuvo Box");
    EXPECT_EQ(::SendMessageA(Control(ids::kWeightList), CB_GETCOUNT, 0, 0), 256);
    HMENU menu = ::GetSystemMenu(window->Handle(), FALSE);
    char entry[64] = {};
    ::GetMenuStringA(menu, ids::kAboutCommand, entry, sizeof entry, MF_BYCOMMAND);
    EXPECT_STREQ(entry, ids::kAboutMenuText);
}

TEST_F(MainWindowWin32, ClicksReachTheBoxAndTheEventLogShowsTheLines) {
    ASSERT_NE(window->Handle(), nullptr);
    const BoxState& state = dlg.State();
    // A timing is keyer configuration bit 5; the box's echo checks the box.
    ASSERT_FALSE(state.keyerConfig & 0x20);
    Click(Control(ids::kATiming));
    EXPECT_TRUE(Pump([&] { return (state.keyerConfig & 0x20) != 0; }));
    EXPECT_TRUE(Checked(Control(ids::kATiming)));

    // "Dah" is keyer mode 3, and its group's other buttons are cleared.
    Click(Control(ids::kModeDah));
    EXPECT_TRUE(Pump([&] { return (state.keyerConfig & 0x07) == 3; }));
    EXPECT_FALSE(Checked(Control(ids::kModeIambic)));

    Choose(Control(ids::kPotMinList), 5);
    EXPECT_TRUE(Pump([&] { return dlg.Window().Model().Selection(ids::kPotMinList) == 5; }));

    // The connect line and, with Verbose Output, every box report.
    HWND log = Control(ids::kEventLogList);
    EXPECT_TRUE(HasLineStarting(log, "Connected to Zuvo Box version "));
    Click(Control(ids::kVerboseOutput));
    Click(Control(ids::kTx2));
    EXPECT_TRUE(Pump([&] { return HasLineStarting(log, "* Received "); }));
    EXPECT_TRUE(dlg.Log().Lines().empty());  // the list holds the only copy
}

TEST_F(MainWindowWin32, StatusTextsFollowAFrontPanelSwitchInTheirColours) {
    ASSERT_NE(window->Handle(), nullptr);
    HWND tx = Control(ids::kTxText);
    EXPECT_EQ(WindowText(tx), "TX1");
    // The front panel's TX 2 switch forces radio 2 to transmit.
    hid.SetSwitches(box::kSwitchTx2);
    EXPECT_TRUE(Pump([&] { return WindowText(tx) == "TX2 *"; }));

    // The dialog paints the static in radio 2's colours.
    HDC dc = ::CreateCompatibleDC(nullptr);
    const auto colour = [&](HWND control) {
        return ::SendMessageA(window->Handle(), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                              reinterpret_cast<LPARAM>(control));
    };
    const LRESULT radio2Brush = colour(tx);
    const StatusColours radio2 = ColoursOf(StatusLook::kRadio2);
    EXPECT_NE(radio2Brush, 0);
    EXPECT_EQ(::GetBkColor(dc), RGB(radio2.background.r, radio2.background.g, radio2.background.b));
    EXPECT_EQ(::GetTextColor(dc), RGB(radio2.text.r, radio2.text.g, radio2.text.b));
    // A plain text, and a caption no model knows (a group box), keep the dialog's own
    // colours.
    EXPECT_NE(colour(Control(ids::kSpeedText)), radio2Brush);
    EXPECT_NE(colour(Control(-1)), radio2Brush);
    ::DeleteDC(dc);

    hid.SetSwitches(0);
    EXPECT_TRUE(Pump([&] { return WindowText(tx) == "TX2"; }));
    EXPECT_EQ(window->LookOf(ids::kTxText), StatusLook::kRadio2);
}

TEST_F(MainWindowWin32, EnterAndEscapeLeaveTheWindowOpen) {
    ASSERT_NE(window->Handle(), nullptr);
    ::SendMessageA(window->Handle(), WM_COMMAND, IDOK, 0);
    ::SendMessageA(window->Handle(), WM_COMMAND, IDCANCEL, 0);
    Pump([] { return false; });
    EXPECT_FALSE(dlg.Closed());
    EXPECT_TRUE(::IsWindowVisible(window->Handle()));
}

// --- The utility's window ------------------------------------------------------------------

class UtilityWindowWin32 : public ::testing::Test {
  protected:
    UtilityWindowWin32() {
        hid.WithBox([this](sim::SimBox& box) { loader = &sim::InstallBootLoader(box); });
        window = std::make_unique<UtilityDialog>(dlg, messages);
        if (!window->Create()) {
            ADD_FAILURE() << "the dialog was not created: " << ::GetLastError();
            return;
        }
        ::ShowWindow(window->Handle(), SW_SHOW);
    }
    ~UtilityWindowWin32() override {
        window.reset();
        dlg.Close();
    }

    HWND Control(int id) const { return ::GetDlgItem(window->Handle(), id); }
    bool Pump(const std::function<bool()>& pred, int ms = 3000) {
        return PumpUntil(
            window->Handle(), queue,
            [&](const platform::Message& m) {
                dlg.Dispatch(m);
                window->UpdateProgress();
            },
            pred, ms);
    }
    void Connect() {
        Click(Control(utility::kConnect));
        ASSERT_TRUE(dlg.Link().IsConnectedFlag());
        ASSERT_TRUE(
            Pump([&] { return ::SendMessageA(Control(utility::kAux4), CB_GETCURSEL, 0, 0) >= 0; }));
    }

    sim::SimHidSystem hid;
    sim::SimBootLoaderComponent* loader = nullptr;
    platform::MessageQueue queue;
    ScriptedDialogs dialogs;
    UtilityDlg dlg{hid, queue, dialogs, {{}, [](int) {}}};
    platform::win32::MessageWindow messages;
    std::unique_ptr<UtilityDialog> window;
};

TEST_F(UtilityWindowWin32, ConnectASettingAndTheConsoleReachTheBox) {
    ASSERT_NE(window->Handle(), nullptr);
    EXPECT_EQ(WindowText(window->Handle()), "Zuvo Box utility");
    // The About entry is the window menu's, not a control of the template.
    EXPECT_EQ(window->Binder().UnboundIds(), std::vector<int>{utility::kAbout});
    Connect();
    EXPECT_TRUE(HasLineStarting(Control(utility::kLog), "Connected"));

    Click(Control(utility::kATiming));
    EXPECT_TRUE(Pump([&] { return (dlg.Mirrors().keyerConfig & 0x20) != 0; }));
    EXPECT_TRUE(Checked(Control(utility::kATiming)));

    // Typing into the text line, then Enter: the dialog's default command sends it.
    ::SetWindowTextA(Control(utility::kText), "TEST");
    EXPECT_EQ(dlg.Model().Text(utility::kText), "TEST");
    ::SendMessageA(window->Handle(), WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(dlg.Console().Sending());
    EXPECT_TRUE(Pump([&] { return WindowText(Control(utility::kSend)) == "Abort"; }));
    // Escape aborts the sending and leaves the window open.
    ::SendMessageA(window->Handle(), WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(Pump([&] { return !dlg.Console().Sending(); }));
    EXPECT_TRUE(::IsWindowVisible(window->Handle()));
}

struct ProgressSteps {
    std::vector<int> positions;
    std::vector<std::string> captions;
};

LRESULT CALLBACK RecordProgressSteps(HWND w, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                     DWORD_PTR data) {
    auto* steps = reinterpret_cast<ProgressSteps*>(data);
    const LRESULT result = ::DefSubclassProc(w, message, wParam, lParam);
    if (message == PBM_SETPOS) {
        steps->positions.push_back(static_cast<int>(wParam));
    } else if (message == WM_SETTEXT) {
        steps->captions.push_back(WindowText(w));
    }
    return result;
}

TEST_F(UtilityWindowWin32, AFirmwareUpdateFillsTheProgressBar) {
    ASSERT_NE(window->Handle(), nullptr);
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("zuvo_win32_update_" + std::to_string(::GetCurrentProcessId()) + ".hex");
    std::ofstream(path, std::ios::binary)
        << test::HexData(0x2000, test::FirmwareBytes(0x5FC0, 0x23, 4, 0)) << test::EndRecord();
    dialogs.file = path.string();
    HWND bar = Control(IDC_UPDATE_PROGRESS);
    HWND caption = Control(IDC_UPDATE_CAPTION);

    Connect();
    Click(Control(utility::kUpdate));  // restarts the box into its boot loader
    ASSERT_TRUE(Pump(
        [&] {
            // Until the boot loader is there, a Connect may still find the old firmware.
            if (!dlg.Link().UpdateMode()) {
                Click(Control(utility::kConnect));
            }
            return dlg.Link().UpdateMode();
        },
        10000));
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 0);
    // Every step the window gives the bar and its caption: reading them between messages
    // can miss them all when the box answers faster than the loop turns.
    ProgressSteps steps;
    ASSERT_TRUE(
        ::SetWindowSubclass(bar, RecordProgressSteps, 1, reinterpret_cast<DWORD_PTR>(&steps)));
    ASSERT_TRUE(
        ::SetWindowSubclass(caption, RecordProgressSteps, 1, reinterpret_cast<DWORD_PTR>(&steps)));
    Click(Control(utility::kUpdate));
    ASSERT_TRUE(Pump(
        [&] {
            const auto stage = dlg.Updater().CurrentStage();
            return stage == FirmwareUpdater::Stage::kRestarted ||
                   stage == FirmwareUpdater::Stage::kFailed;
        },
        10000));
    ::RemoveWindowSubclass(bar, RecordProgressSteps, 1);
    ::RemoveWindowSubclass(caption, RecordProgressSteps, 1);
    EXPECT_EQ(dlg.Updater().CurrentStage(), FirmwareUpdater::Stage::kRestarted);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), ::SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    EXPECT_EQ(WindowText(caption), "Done");
    // Verification follows the boot loader's answers, so the bar shows steps of it.
    EXPECT_TRUE(std::any_of(steps.positions.begin(), steps.positions.end(),
                            [](int p) { return p > 0 && p < 100; }));
    EXPECT_TRUE(std::any_of(steps.captions.begin(), steps.captions.end(),
                            [](const std::string& c) { return c.rfind("Verifying ", 0) == 0; }));
    std::filesystem::remove(path);
}

TEST(Win32Dialogs, TheFilterBecomesTheOpenFileDialogsPairs) {
    EXPECT_EQ(Win32Dialogs::FilterForDialog("Intel hex files (.hex)|*.HEX||"),
              std::string("Intel hex files (.hex)\0*.HEX\0", 30));
    EXPECT_EQ(Win32Dialogs::FilterForDialog("A|*.a"), std::string("A\0*.a\0", 7));
}

}  // namespace
}  // namespace zuvo::gui::win32
