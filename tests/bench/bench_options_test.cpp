#include "bench_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zuvo::bench {
namespace {

Options Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "bench");
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    return Options(static_cast<int>(argv.size()), argv.data());
}

// A benchmark runs only on options it understands: "bench_otrsp abc" once ran 0 rounds and
// printed "-nan" as its figure.
TEST(BenchOptions, OnlyValidOptionsRun) {
    Options none = Parse({});
    EXPECT_EQ(none.Int("--rounds", 2000, 1, 1000000), 2000);
    EXPECT_TRUE(none.Done());

    Options good = Parse({"--rounds", "500", "--wpm", "60,99", "--flood-mib", "0.5"});
    EXPECT_EQ(good.Int("--rounds", 2000, 1, 1000000), 500);
    EXPECT_EQ(good.IntList("--wpm", {}, 5, 99), (std::vector<long long>{60, 99}));
    EXPECT_DOUBLE_EQ(good.Number("--flood-mib", 5, 0.01, 1024), 0.5);
    EXPECT_TRUE(good.Done());

    const std::vector<std::vector<std::string>> bad = {
        {"abc"},                             // a bare word
        {"--rounds"},                        // no value
        {"--rounds", "abc"},                 // not a number
        {"--rounds", "10x"},                 // trailing junk
        {"--rounds", "0"},                   // out of range
        {"--rounds", "-5"},                  // negative
        {"--rounds", "5", "--rounds", "6"},  // twice
        {"--round", "5"},                    // unknown
        {"--wpm", "60,,99"},                 // empty item
        {"--wpm", "60,"},                    // trailing comma
        {"--wpm", "100"},                    // out of range
        {"--flood-mib", "nan"},              // not finite
        {"--flood-mib", ""},                 // empty
    };
    for (const auto& args : bad) {
        Options o = Parse(args);
        o.Int("--rounds", 2000, 1, 1000000);
        o.IntList("--wpm", {60}, 5, 99);
        o.Number("--flood-mib", 5, 0.01, 1024);
        EXPECT_FALSE(o.Done()) << args[0];
        EXPECT_FALSE(o.Error().empty()) << args[0];
    }
}

}  // namespace
}  // namespace zuvo::bench
