#pragma once

// What every benchmark shares around its figures: its options, checked before anything runs,
// and each figure printed beside its target with whether it is met.

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace zuvo::bench {

// "--name VALUE" pairs, each name at most once. The first problem (an unknown name, a
// missing value, a value that is not a number within its range) is kept, and Done() is
// false: a benchmark then prints Error() and its usage and runs nothing, instead of running
// with a count of 0 and printing figures of nothing.
class Options {
  public:
    Options(int argc, char** argv) {
        for (int i = 1; i < argc; i += 2) {
            const std::string name = argv[i];
            if (name.size() < 3 || name.compare(0, 2, "--") != 0) {
                Fail("unexpected argument \"" + name + "\"");
                return;
            }
            if (i + 1 >= argc) {
                Fail(name + " needs a value");
                return;
            }
            if (!values_.emplace(name, argv[i + 1]).second) {
                Fail(name + " given twice");
                return;
            }
        }
    }

    // A whole number in [min, max], or fallback when the option is not given.
    long long Int(const std::string& name, long long fallback, long long min, long long max) {
        const auto text = Take(name);
        if (!text) {
            return fallback;
        }
        long long value = 0;
        const char* end = text->data() + text->size();
        const auto [at, ec] = std::from_chars(text->data(), end, value);
        if (ec != std::errc() || at != end || value < min || value > max) {
            Fail(name + " takes a whole number from " + std::to_string(min) + " to " +
                 std::to_string(max) + ", not \"" + *text + "\"");
            return fallback;
        }
        return value;
    }

    // A number in [min, max], or fallback.
    double Number(const std::string& name, double fallback, double min, double max) {
        const auto text = Take(name);
        if (!text) {
            return fallback;
        }
        char* end = nullptr;
        const double value = std::strtod(text->c_str(), &end);
        if (text->empty() || end != text->c_str() + text->size() || !std::isfinite(value) ||
            value < min || value > max) {
            std::ostringstream why;
            why << name << " takes a number from " << min << " to " << max << ", not \"" << *text
                << "\"";
            Fail(why.str());
            return fallback;
        }
        return value;
    }

    // Comma-separated whole numbers, each in [min, max]; at least one.
    std::vector<long long> IntList(const std::string& name, std::vector<long long> fallback,
                                   long long min, long long max) {
        const auto text = Take(name);
        if (!text) {
            return fallback;
        }
        std::vector<long long> out;
        std::stringstream in(*text);
        for (std::string item; std::getline(in, item, ',');) {
            long long value = 0;
            const char* end = item.data() + item.size();
            const auto [at, ec] = std::from_chars(item.data(), end, value);
            if (item.empty() || ec != std::errc() || at != end || value < min || value > max) {
                out.clear();
                break;
            }
            out.push_back(value);
        }
        if (out.empty() || text->back() == ',') {
            Fail(name + " takes whole numbers from " + std::to_string(min) + " to " +
                 std::to_string(max) + " separated by commas, not \"" + *text + "\"");
            return fallback;
        }
        return out;
    }

    std::string Text(const std::string& name, std::string fallback) {
        const auto text = Take(name);
        return text ? *text : fallback;
    }

    // After every option has been asked for: true when all were valid and known.
    bool Done() {
        if (error_.empty() && !values_.empty()) {
            Fail("unknown option " + values_.begin()->first);
        }
        return error_.empty();
    }
    const std::string& Error() const { return error_; }

  private:
    std::optional<std::string> Take(const std::string& name) {
        const auto it = values_.find(name);
        if (it == values_.end()) {
            return std::nullopt;
        }
        std::string value = std::move(it->second);
        values_.erase(it);
        return value;
    }
    void Fail(const std::string& why) {
        if (error_.empty()) {
            error_ = why;
        }
    }

    std::map<std::string, std::string> values_;  // given and not yet asked for
    std::string error_;
};

// Prints the option error with the usage; the exit status for it.
inline int UsageError(const char* program, const Options& options, const char* usage) {
    std::fprintf(stderr, "%s: %s\nusage: %s %s\n", program, options.Error().c_str(), program,
                 usage);
    return 2;
}

// Each figure beside its target, and whether it is met; printed together at the end, with
// the load average at that moment.
class Targets {
  public:
    void Check(const std::string& what, const std::string& figure, const std::string& target,
               bool met) {
        char line[256];
        std::snprintf(line, sizeof line, "  %-46s %-12s target %-12s %s\n", (what + ":").c_str(),
                      figure.c_str(), target.c_str(), met ? "met" : "MISSED");
        lines_ += line;
        missed_ += met ? 0 : 1;
    }
    // Prints every target; the exit status: 0 when all were met, 1 otherwise.
    int Report() const;

  private:
    std::string lines_;
    int missed_ = 0;
};

// The machine's load average (1, 5, 15 minutes), printed with every run: these figures are
// only comparable between runs on an equally quiet machine.
inline std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    if (!(in >> one >> five >> fifteen)) {
        return "unknown";
    }
    return one + " " + five + " " + fifteen;
}

inline int Targets::Report() const {
    std::printf("\nTargets (load average now %s):\n%s", LoadAverage().c_str(), lines_.c_str());
    return missed_ == 0 ? 0 : 1;
}

inline std::string Format(const char* format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

}  // namespace zuvo::bench
