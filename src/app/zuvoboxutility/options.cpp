#include "app/zuvoboxutility/options.h"

#include <cstdlib>

#include "generated/version.h"

namespace zuvo::app {

void PrintUtilityUsage(std::FILE* out) {
    std::fprintf(out,
                 "Usage: ZuvoBoxUtility [options] [--update FILE.hex | --show]\n"
                 "  (neither)           open the window (needs a display or --screenshot)\n"
                 "  --update FILE.hex   restart the box into its boot loader, program, verify\n"
                 "                      and restart it; the log goes to standard output\n"
                 "  --show              connect and print every setting the box reports\n"
                 "  --simulate          use the simulated box instead of USB\n"
                 "  --timeout SECONDS   longest wait for the box at each step (default 10)\n"
                 "  --sim-jumper        the simulated boot loader ends asking for the jumper\n"
                 "  --screenshot FILE   window: save a PNG after 1.5 s, then close (works\n"
                 "                      without a display; with --simulate it connects first)\n"
                 "  --version, --help\n"
                 "Exit codes: 0 done, 1 another instance runs, 2 usage, 3 no box found,\n"
                 "4 time-out, 5 firmware file rejected, 6 box lost, 7 verify failed,\n"
                 "8 remove the jumper, 9 interrupted\n");
}

std::optional<UtilityOptions> ParseUtilityOptions(int argc, char** argv) {
    UtilityOptions o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "ZuvoBoxUtility: %s needs a value\n", arg.c_str());
                return false;
            }
            out = argv[++i];
            return true;
        };
        if (arg == "--simulate") {
            o.simulate = true;
        } else if (arg == "--show") {
            o.show = true;
        } else if (arg == "--update") {
            if (!value(o.updateFile)) {
                return std::nullopt;
            }
        } else if (arg == "--timeout") {
            std::string t;
            if (!value(t)) {
                return std::nullopt;
            }
            o.timeoutSeconds = std::atoi(t.c_str());
            if (o.timeoutSeconds <= 0) {
                std::fprintf(stderr, "ZuvoBoxUtility: bad --timeout %s\n", t.c_str());
                return std::nullopt;
            }
        } else if (arg == "--screenshot") {
            if (!value(o.screenshot)) {
                return std::nullopt;
            }
        } else if (arg == "--sim-jumper") {
            o.simJumper = true;
        } else if (arg == "--version") {
            std::printf("ZuvoBoxUtility %u.%u.%u\n", zuvo::kVersionMajor, zuvo::kVersionMinor,
                        zuvo::kVersionPatch);
            std::exit(0);
        } else if (arg == "--help" || arg == "-h") {
            PrintUtilityUsage(stdout);
            std::exit(0);
        } else {
            std::fprintf(stderr, "ZuvoBoxUtility: unknown option %s\n", arg.c_str());
            PrintUtilityUsage(stderr);
            return std::nullopt;
        }
    }
    if (o.show && !o.updateFile.empty()) {
        PrintUtilityUsage(stderr);
        return std::nullopt;
    }
    return o;
}

}  // namespace zuvo::app
