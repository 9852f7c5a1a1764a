#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace zuvo::app {

// ZuvoBox's command line, the same on every system.
struct ZuvoBoxOptions {
    bool headless = false;
    bool simulate = false;
    std::string iniPath;
    std::string simTranscript;
    std::string simControl;
    std::string screenshot;
    bool any = false;  // any option was given
};

void PrintZuvoBoxUsage(std::FILE* out);

// nullopt (after saying why on standard error) for a command line that cannot be used;
// --version and --help print and end the program.
std::optional<ZuvoBoxOptions> ParseZuvoBoxOptions(int argc, char** argv);

}  // namespace zuvo::app
