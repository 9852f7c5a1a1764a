// ZuvoBoxUtility for Windows: configures the box and updates its firmware, in its window or,
// with --update or --show, from the command line. Both drive the same window model.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/console_dialogs.h"
#include "app/zuvoboxutility/options.h"
#include "core/single_instance.h"
#include "gui/win32/utility_dialog.h"
#include "platform/errors.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/hid_win32.h"
#include "platform/win32/instance_lock_win32.h"
#include "platform/win32/message_window.h"
#include "sim/sim_bootloader.h"
#include "sim/sim_hid.h"
#include "utility/utility_dlg.h"
#include "utility/utility_runner.h"

namespace {

namespace win32 = zuvo::platform::win32;

}  // namespace

int main(int argc, char** argv) {
    win32::AttachStandardOutput();
    const std::optional<zuvo::app::UtilityOptions> options =
        zuvo::app::ParseUtilityOptions(argc, argv);
    if (!options) {
        return 2;
    }
    const bool windowed = options->WindowMode();

    zuvo::platform::MessageQueue queue;
    win32::ConsoleCloseHandler consoleClose(queue);
    // The window's dialog takes the system's messages. The command line waits on the queue
    // rather than pumping messages, so its message window runs on a thread of its own.
    win32::MessageWindow dialogWindow;
    win32::MessageWindowThread windowThread;
    if (!windowed && !windowThread.Start()) {
        std::fprintf(stderr, "ZuvoBoxUtility: cannot create the message window: %s\n",
                     zuvo::platform::SystemErrorText(::GetLastError()).c_str());
        return 2;
    }
    win32::MessageWindow& window = windowed ? dialogWindow : windowThread.Window();

    // Unattended: Yes to questions, the firmware file given for the open-file dialog. The
    // window asks the operator, and shows the refusal of a second instance as an error box.
    zuvo::app::ConsoleDialogs commandLineDialogs(true, options->updateFile);
    zuvo::gui::win32::Win32Dialogs windowDialogs("Zuvo Box utility");
    zuvo::IDialogHost& dialogs =
        windowed ? static_cast<zuvo::IDialogHost&>(windowDialogs) : commandLineDialogs;
    win32::Win32InstanceLock lock;
    if (!zuvo::ClaimSingleInstance(lock, dialogs)) {
        return 1;
    }

    std::unique_ptr<zuvo::platform::IHidSystem> hid;
    if (options->simulate) {
        auto sim = std::make_unique<zuvo::sim::SimHidSystem>();
        const bool jumper = options->simJumper;
        sim->WithBox([jumper](zuvo::sim::SimBox& box) {
            zuvo::sim::InstallBootLoader(box).Loader().SetRestartFlag(!jumper);
        });
        hid = std::move(sim);
    } else {
        hid = std::make_unique<win32::Win32HidSystem>(window);
    }

    int code = 0;
    {
        zuvo::UtilityDlg dlg(*hid, queue, dialogs);
        if (windowed) {
            // A screenshot of the simulated box shows its values, so connect first.
            const bool connect = options->simulate && !options->screenshot.empty();
            code = zuvo::gui::win32::RunUtilityWindow(dlg, queue, window, windowDialogs,
                                                      {options->screenshot}, connect);
            dlg.Close();
            consoleClose.Closed();
            return code;
        }
        dlg.SetLineObserver(zuvo::app::PrintLine);
        zuvo::UtilityRunner runner(
            dlg, queue, *hid,
            [](const std::string& text) {
                std::fprintf(stderr, "ZuvoBoxUtility: %s\n", text.c_str());
            },
            std::chrono::seconds(options->timeoutSeconds));
        code =
            options->show ? runner.Show(zuvo::app::PrintLine) : runner.Update(options->updateFile);
        dlg.Close();
    }
    consoleClose.Closed();
    return code;
}
