// ZuvoBox: presents the box to contest loggers. Picks the platform (USB or the simulated
// box) and the front end, then runs the main dialog until it is closed.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "app/console_dialogs.h"
#include "app/zuvobox/options.h"
#include "core/single_instance.h"
#include "generated/version.h"
#include "platform/posix/hid_linux.h"
#include "platform/posix/host_port_posix.h"
#include "platform/posix/ini_profile.h"
#include "platform/posix/instance_lock.h"
#include "platform/posix/rtty_channel_posix.h"
#include "platform/posix/runtime_dir.h"
#include "platform/posix/signal_watcher.h"
#include "platform/posix/sim_control_fifo.h"
#include "sim/sim_commands.h"
#include "sim/sim_hid.h"
#include "ui/zuvo_dlg.h"

#ifdef ZUVO_WITH_GUI
#include "gui/run_window.h"
#endif

namespace {

int RunHeadless(zuvo::CZuvoDlg& dlg, zuvo::platform::MessageQueue& queue) {
    dlg.OnInitDialog();
    while (!dlg.Closed()) {
        zuvo::platform::Message message;
        if (queue.Wait(message, std::chrono::seconds(1))) {
            dlg.Dispatch(message);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<zuvo::app::ZuvoBoxOptions> options =
        zuvo::app::ParseZuvoBoxOptions(argc, argv);
    if (!options) {
        return 2;
    }
    namespace posix = zuvo::platform::posix;

    zuvo::platform::MessageQueue queue;
    // Before any thread starts, so that only the watcher's thread takes the signals.
    posix::SignalWatcher signals(queue);

    zuvo::app::ConsoleDialogs consoleDialogs(false);
    zuvo::IDialogHost* dialogHost = &consoleDialogs;
#ifdef ZUVO_WITH_GUI
    // The window when a display is there (or a screenshot is asked for); created before the
    // lock so that the refusal shows as a message box.
    const bool windowed =
        !options->headless && (zuvo::gui::DisplayAvailable() || !options->screenshot.empty());
    std::unique_ptr<zuvo::gui::Application> app;
    zuvo::gui::QtDialogs qtDialogs;
    if (windowed) {
        app = std::make_unique<zuvo::gui::Application>(argc, argv);
        dialogHost = &qtDialogs;
    }
#else
    const bool windowed = false;
    if (!options->screenshot.empty()) {
        std::fprintf(stderr, "ZuvoBox: built without a window; --screenshot is not available\n");
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

    std::string iniPath = options->iniPath;
    if (iniPath.empty()) {
        iniPath = zuvo::ResolvePosixIniPath(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
        posix::EnsureParentFolder(iniPath);
    }
    posix::IniProfile profile;
    zuvo::SettingsStore settings(profile, iniPath);

    std::unique_ptr<zuvo::platform::IHidSystem> hid;
    zuvo::sim::SimHidSystem* sim = nullptr;
    if (options->simulate) {
        auto simHid = std::make_unique<zuvo::sim::SimHidSystem>();
        sim = simHid.get();
        if (!options->simTranscript.empty() && !sim->SetTranscript(options->simTranscript)) {
            std::fprintf(stderr, "ZuvoBox: cannot write the transcript %s\n",
                         options->simTranscript.c_str());
            return 2;
        }
        hid = std::move(simHid);
    } else {
        hid = std::make_unique<posix::LinuxHidSystem>();
    }

    // Pipe servers are ptys linked from the runtime folder; COM ports are serial devices.
    posix::PosixHostPortSystem hostPorts;
    // The RTTY bridge's block and message socket; both are removed again at a clean exit.
    posix::PosixRttySharedBlock rttyBlock;
    posix::PosixRttyMessageReceiver rttyReceiver;
    zuvo::CZuvoDlg dlg(
        {*hid, queue, settings, dialogs, zuvo::PosixLogPathFromSettings(iniPath), nullptr});
    dlg.SetHostPortSystem(hostPorts);
    dlg.SetRttyChannel(rttyBlock, rttyReceiver);
    if (!windowed) {
        dlg.Log().SetKeepLines(false);
        dlg.Log().SetObserver(zuvo::app::PrintLine);
    }
    posix::SimControlFifo control;
    if (sim != nullptr && !options->simControl.empty()) {
        std::string error;
        const bool started = control.Start(
            options->simControl,
            [sim](const std::string& line) {
                const std::string problem = zuvo::sim::ExecuteSimCommand(line, *sim);
                if (!problem.empty()) {
                    std::fprintf(stderr, "ZuvoBox: simulator: %s\n", problem.c_str());
                }
            },
            error);
        if (!started) {
            std::fprintf(stderr, "ZuvoBox: %s\n", error.c_str());
            return 2;
        }
    }
#ifdef ZUVO_WITH_GUI
    if (windowed) {
        return zuvo::gui::RunWindow(dlg, queue, {options->screenshot});
    }
#endif
    return RunHeadless(dlg, queue);
}
