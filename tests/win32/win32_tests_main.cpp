// The Windows platform tests. Started with --pipe-peer PIPE MODE the program is instead the
// client process of a pipe test; with --close-zuvobox it closes the interface program of
// this environment's object suffix, for tests driven from Linux.

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "win32/win32_process.h"

namespace zuvo::test {
int RunPipePeer(const std::string& path, const std::string& mode);
}  // namespace zuvo::test

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--pipe-peer") {
        return zuvo::test::RunPipePeer(argv[2], argv[3]);
    }
    if (argc == 2 && std::string(argv[1]) == "--close-zuvobox") {
        const char* suffix = std::getenv("ZUVOBOX_OBJECT_SUFFIX");
        return zuvo::test::CloseZuvoBox(suffix != nullptr ? suffix : "") ? 0 : 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
