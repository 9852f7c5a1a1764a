// ZuvoBoxUtility: configures the box and updates its firmware. Without --update or --show it
// opens its window (when built with Qt); both command-line modes drive the same window model.

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/console_dialogs.h"
#include "app/zuvoboxutility/options.h"
#include "core/single_instance.h"
#include "generated/version.h"
#include "platform/posix/hid_linux.h"
#include "platform/posix/host_port_posix.h"
#include "platform/posix/instance_lock.h"
#include "platform/posix/rtty_channel_posix.h"
#include "platform/posix/signal_watcher.h"
#include "sim/sim_bootloader.h"
#include "sim/sim_hid.h"
#include "utility/utility_dlg.h"
#include "utility/utility_runner.h"

#ifdef ZUVO_WITH_GUI
#include "gui/run_window.h"
#include "gui/utility_window.h"
#endif

int main(int argc, char** argv) {
    const std::optional<zuvo::app::UtilityOptions> options =
        zuvo::app::ParseUtilityOptions(argc, argv);
    if (!options) {
        return 2;
    }
    namespace posix = zuvo::platform::posix;

    zuvo::platform::MessageQueue queue;
    // Before any thread starts, so that only the watcher's thread takes the signals.
    posix::SignalWatcher signalWatcher(queue);

    const bool windowMode = options->WindowMode();
    // Unattended: Yes to questions, the firmware file given for the open-file dialog.
    zuvo::app::ConsoleDialogs commandLineDialogs(true, options->updateFile);
    zuvo::IDialogHost* dialogHost = &commandLineDialogs;
#ifdef ZUVO_WITH_GUI
    // The window needs a display, or renders offscreen for a screenshot. Created before the
    // lock so that the refusal of a second instance shows as an error box.
    if (windowMode && !zuvo::gui::DisplayAvailable() && options->screenshot.empty()) {
        std::fprintf(stderr, "ZuvoBoxUtility: no display for the window\n");
        zuvo::app::PrintUtilityUsage(stderr);
        return 2;
    }
    std::unique_ptr<zuvo::gui::Application> app;
    zuvo::gui::UtilityDialogs windowDialogs;
    if (windowMode) {
        app = std::make_unique<zuvo::gui::Application>(argc, argv);
        dialogHost = &windowDialogs;
    }
#else
    if (windowMode) {
        std::fprintf(stderr, "ZuvoBoxUtility: built without a window; use --update or --show\n");
        zuvo::app::PrintUtilityUsage(stderr);
        return 2;
    }
#endif
    zuvo::IDialogHost& dialogs = *dialogHost;
    posix::PosixInstanceLock lock;
    if (!zuvo::ClaimSingleInstance(lock, dialogs)) {
        return 1;
    }
    if (lock.Held()) {
        // No other run of ours is alive, so what a crashed one left is stale: its pty links
        // would lead a logger into whatever terminal reuses the pty.
        posix::RemoveStalePipeLinks();
        posix::RemoveStaleRttyObjects();
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
        hid = std::make_unique<posix::LinuxHidSystem>();
    }

    int code = 0;
    {
        zuvo::UtilityDlg dlg(*hid, queue, dialogs);
#ifdef ZUVO_WITH_GUI
        if (windowMode) {
            // A screenshot of the simulated box shows its values, so connect first.
            const bool connect = options->simulate && !options->screenshot.empty();
            code = zuvo::gui::RunUtilityWindow(dlg, queue, windowDialogs, {options->screenshot},
                                               connect);
            dlg.Close();
            return code;
        }
#endif
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
    return code;
}
