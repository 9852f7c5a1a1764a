// ZuvoBox for Windows: presents the box to contest loggers. Picks the platform (USB or the
// simulated box), then runs the main dialog's logic on this thread's message loop until it
// is closed. The window itself is not in this build yet: the program runs headless, its
// event log on standard output.

#include <windows.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>

#include "app/console_dialogs.h"
#include "app/zuvobox/options.h"
#include "core/settings_store.h"
#include "core/single_instance.h"
#include "platform/errors.h"
#include "platform/win32/console_win32.h"
#include "platform/win32/hid_win32.h"
#include "platform/win32/host_port_win32.h"
#include "platform/win32/ini_profile_win32.h"
#include "platform/win32/instance_lock_win32.h"
#include "platform/win32/message_window.h"
#include "platform/win32/rtty_channel_win32.h"
#include "platform/win32/system_paths.h"
#include "sim/sim_hid.h"
#include "ui/zuvo_dlg.h"

namespace {

namespace win32 = zuvo::platform::win32;

constexpr char kNoWindowYet[] =
    "This version of ZuvoBox has no window yet. Start it from a command prompt with\n"
    "--headless: the event log then appears there, and Ctrl+C closes it.";

// The settings file: ALLUSERSPROFILE (by the system's version), else beside the program.
std::string DefaultSettingsPath() {
    zuvo::WindowsPathInputs in;
    in.allUsersProfile = win32::EnvironmentVariable("ALLUSERSPROFILE");
    win32::SystemVersion(in.platformId, in.majorVersion);
    in.modulePath = win32::ProgramPath();
    return zuvo::ResolveWindowsIniPath(in);
}

}  // namespace

int main(int argc, char** argv) {
    const bool console = win32::AttachStandardOutput();
    const std::optional<zuvo::app::ZuvoBoxOptions> options =
        zuvo::app::ParseZuvoBoxOptions(argc, argv);
    if (!options) {
        return 2;
    }
    if (!options->simControl.empty() || !options->screenshot.empty()) {
        std::fprintf(stderr,
                     "ZuvoBox: --sim-control and --screenshot are not in the Windows "
                     "build yet\n");
        return 2;
    }
    if (!options->any) {
        // Started without options, from Explorer say: nobody would see a headless run.
        if (!console) {
            ::MessageBoxA(nullptr, kNoWindowYet, "Zuvo Box", MB_OK | MB_ICONINFORMATION);
            return 2;
        }
        std::fprintf(stderr, "ZuvoBox: no window in this version; running headless.\n");
    }

    zuvo::platform::MessageQueue queue;
    win32::MessageWindow window;
    if (!window.Create()) {
        std::fprintf(stderr, "ZuvoBox: cannot create the message window: %s\n",
                     zuvo::platform::SystemErrorText(::GetLastError()).c_str());
        return 2;
    }
    win32::MessageLoop loop(queue, window);
    win32::ConsoleCloseHandler consoleClose(queue);

    zuvo::app::ConsoleDialogs dialogs(false);
    win32::Win32InstanceLock lock;
    if (!zuvo::ClaimSingleInstance(lock, dialogs)) {
        return 1;
    }

    std::string iniPath = options->iniPath;
    if (iniPath.empty()) {
        iniPath = DefaultSettingsPath();
        win32::CreateParentFolder(iniPath);
    }
    win32::Win32Profile profile;
    zuvo::SettingsStore settings(profile, iniPath);

    std::unique_ptr<zuvo::platform::IHidSystem> hid;
    if (options->simulate) {
        auto sim = std::make_unique<zuvo::sim::SimHidSystem>();
        if (!options->simTranscript.empty() && !sim->SetTranscript(options->simTranscript)) {
            std::fprintf(stderr, "ZuvoBox: cannot write the transcript %s\n",
                         options->simTranscript.c_str());
            return 2;
        }
        hid = std::move(sim);
    } else {
        hid = std::make_unique<win32::Win32HidSystem>(window);
    }

    win32::Win32HostPortSystem hostPorts;
    win32::Win32RttySharedBlock rttyBlock;
    win32::Win32RttyMessageReceiver rttyReceiver(window);
    int code = 0;
    {
        zuvo::CZuvoDlg dlg(
            {*hid, queue, settings, dialogs, zuvo::WindowsLogPathFromSettings(iniPath), nullptr});
        dlg.SetHostPortSystem(hostPorts);
        dlg.SetRttyChannel(rttyBlock, rttyReceiver);
        dlg.Log().SetKeepLines(false);
        dlg.Log().SetObserver(zuvo::app::PrintLine);
        dlg.OnInitDialog();
        code = loop.Run([&dlg](const zuvo::platform::Message& m) { dlg.Dispatch(m); },
                        [&dlg] { return dlg.Closed(); });
    }
    consoleClose.Closed();
    return code;
}
