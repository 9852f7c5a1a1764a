// The emulated-kernel tests run under umockdev's preload library, which covers the whole
// process and must be there from its start: without it, main runs the executable again
// with it. Where umockdev is not installed the tests skip and say why.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "umockdev/hidraw_testbed.h"

namespace {

void AddOption(const char* variable, const std::string& option) {
    const char* old = std::getenv(variable);
    std::string value = old != nullptr && *old != '\0' ? std::string(old) + ":" + option : option;
    setenv(variable, value.c_str(), 1);
}

}  // namespace

int main(int argc, char** argv) {
    bool listing = false;
    for (int i = 1; i < argc; ++i) {
        listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
    }
    if (!listing && !zuvo::test::HidrawTestbed::Unavailable().empty() &&
        std::getenv("ZUVO_UMOCKDEV_RESTARTED") == nullptr) {
        setenv("ZUVO_UMOCKDEV_RESTARTED", "1", 1);
        const char* old = std::getenv("LD_PRELOAD");
        const std::string preload = std::string("libumockdev-preload.so.0") +
                                    (old != nullptr && *old != '\0' ? std::string(" ") + old : "");
        setenv("LD_PRELOAD", preload.c_str(), 1);
        // The address sanitizer must accept a library ahead of its runtime. The programs
        // the tests start inherit all of this.
        AddOption("ASAN_OPTIONS", "verify_asan_link_order=0");
        execv("/proc/self/exe", argv);
        std::perror("re-running under umockdev");
    }
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
