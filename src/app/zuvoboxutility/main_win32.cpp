// ZuvoBoxUtility for Windows: configures the box and updates its firmware from the command
// line (--update, --show). The window is not in this build yet.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/console_dialogs.h"
#include "app/zuvoboxutility/options.h"
#include "core/single_instance.h"
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

constexpr char kNoWindowYet[] =
    "This version of ZuvoBoxUtility has no window yet. From a command prompt it shows the\n"
    "box's settings (--show) and updates its firmware (--update FILE.hex); --help lists\n"
    "every option.";

}  // namespace

int main(int argc, char** argv) {
    const bool console = win32::AttachStandardOutput();
    const std::optional<zuvo::app::UtilityOptions> options =
        zuvo::app::ParseUtilityOptions(argc, argv);
    if (!options) {
        return 2;
    }
    if (options->WindowMode()) {
        if (!console) {
            ::MessageBoxA(nullptr, kNoWindowYet, "Zuvo Box Utility", MB_OK | MB_ICONINFORMATION);
        }
        std::fprintf(stderr,
                     "ZuvoBoxUtility: no window in this version; use --update or "
                     "--show\n");
        zuvo::app::PrintUtilityUsage(stderr);
        return 2;
    }

    zuvo::platform::MessageQueue queue;
    win32::ConsoleCloseHandler consoleClose(queue);
    // The command line waits on the queue rather than pumping messages, so the window that
    // receives device notifications runs on a thread of its own.
    win32::MessageWindowThread window;
    if (!window.Start()) {
        std::fprintf(stderr, "ZuvoBoxUtility: cannot create the message window: %s\n",
                     zuvo::platform::SystemErrorText(::GetLastError()).c_str());
        return 2;
    }

    // Unattended: Yes to questions, the firmware file given for the open-file dialog.
    zuvo::app::ConsoleDialogs dialogs(true, options->updateFile);
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
        hid = std::make_unique<win32::Win32HidSystem>(window.Window());
    }

    int code = 0;
    {
        zuvo::UtilityDlg dlg(*hid, queue, dialogs);
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
