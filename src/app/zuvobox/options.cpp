#include "app/zuvobox/options.h"

#include <cstdlib>

#include "generated/version.h"

namespace zuvo::app {

namespace {

#ifdef _WIN32
constexpr char kIniDefault[] = "%ALLUSERSPROFILE%\\Zuvo Box\\ZuvoBox.ini";
// The simulator's control FIFO and the window's picture are not in the Windows build yet.
constexpr char kLinuxOnlyHelp[] = "";
#else
constexpr char kIniDefault[] = "$XDG_CONFIG_HOME/Zuvo Box/ZuvoBox.ini";
constexpr char kLinuxOnlyHelp[] =
    "  --sim-control PATH    create a FIFO that takes simulator commands\n"
    "                        (unplug, replug, switches 0xNN, pot N, paddle, ...)\n"
    "  --screenshot FILE     save a PNG of the window after 1.5 s, then close\n"
    "                        (works without a display)\n";
#endif

}  // namespace

void PrintZuvoBoxUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: ZuvoBox [options]\n"
                 "  --headless            no window; the event log goes to standard output\n"
                 "                        (also the default when no display is available)\n"
                 "  --simulate            use the simulated box instead of USB\n"
                 "  --sim-transcript FILE write every report to and from the simulated box\n"
                 "  --ini PATH            settings file (default: %s)\n"
                 "%s"
                 "  --version, --help\n",
                 kIniDefault, kLinuxOnlyHelp);
}

std::optional<ZuvoBoxOptions> ParseZuvoBoxOptions(int argc, char** argv) {
    ZuvoBoxOptions o;
    o.any = argc > 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "ZuvoBox: %s needs a value\n", arg.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (arg == "--headless") {
            o.headless = true;
        } else if (arg == "--simulate") {
            o.simulate = true;
        } else if (arg == "--ini") {
            if (!value(o.iniPath)) {
                return std::nullopt;
            }
        } else if (arg == "--sim-transcript") {
            if (!value(o.simTranscript)) {
                return std::nullopt;
            }
        } else if (arg == "--sim-control") {
            if (!value(o.simControl)) {
                return std::nullopt;
            }
        } else if (arg == "--screenshot") {
            if (!value(o.screenshot)) {
                return std::nullopt;
            }
        } else if (arg == "--version") {
            std::printf("ZuvoBox %u.%u.%u\n", zuvo::kVersionMajor, zuvo::kVersionMinor,
                        zuvo::kVersionPatch);
            std::exit(0);
        } else if (arg == "--help" || arg == "-h") {
            PrintZuvoBoxUsage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "ZuvoBox: unknown option %s\n", arg.c_str());
            PrintZuvoBoxUsage(stderr);
            return std::nullopt;
        }
    }
    return o;
}

}  // namespace zuvo::app
