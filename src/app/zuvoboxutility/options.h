#pragma once

#include <cstdio>
#include <optional>
#include <string>

namespace zuvo::app {

// ZuvoBoxUtility's command line, the same on every system.
struct UtilityOptions {
    bool simulate = false;
    bool show = false;
    std::string updateFile;
    std::string screenshot;
    int timeoutSeconds = 10;
    bool simJumper = false;  // the simulated boot loader asks for the jumper to be removed

    // Neither --update nor --show: the window.
    bool WindowMode() const { return !show && updateFile.empty(); }
};

void PrintUtilityUsage(std::FILE* out);

// nullopt (after saying why on standard error) for a command line that cannot be used;
// --version and --help print and end the program.
std::optional<UtilityOptions> ParseUtilityOptions(int argc, char** argv);

}  // namespace zuvo::app
