#include "sim/sim_commands.h"

#include <cctype>
#include <vector>

namespace zuvo::sim {

namespace {

std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) != 0) {
            ++i;
        }
        size_t start = i;
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])) == 0) {
            ++i;
        }
        if (i > start) {
            words.emplace_back(line.substr(start, i - start));
        }
    }
    return words;
}

std::string Lower(std::string s) {
    for (char& c : s) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return s;
}

// Decimal or 0x-hex, whole word, within [lo, hi].
bool ParseNumber(const std::string& word, int lo, int hi, int& out) {
    std::string digits = Lower(word);
    int base = 10;
    if (digits.size() > 2 && digits[0] == '0' && digits[1] == 'x') {
        base = 16;
        digits = digits.substr(2);
    }
    if (digits.empty() || digits.size() > 8) {
        return false;
    }
    long value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9') {
            d = c - '0';
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            d = c - 'a' + 10;
        } else {
            return false;
        }
        value = value * base + d;
    }
    if (value < lo || value > hi) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

struct Syntax {
    const char* word;
    SimCommand::Kind kind;
    int argc;
    int lo[4];
    int hi[4];
    const char* usage;
};

constexpr Syntax kSyntax[] = {
    {"unplug", SimCommand::Kind::kUnplug, 0, {}, {}, "unplug"},
    {"replug", SimCommand::Kind::kReplug, 0, {}, {}, "replug"},
    {"paddle", SimCommand::Kind::kPaddle, 0, {}, {}, "paddle"},
    {"switches", SimCommand::Kind::kSwitches, 1, {0}, {0x1F}, "switches BITS (0..0x1f)"},
    {"pot", SimCommand::Kind::kPot, 1, {0}, {127}, "pot WPM (0..127)"},
    {"delay", SimCommand::Kind::kDelay, 1, {0}, {60000}, "delay MS (0..60000)"},
    {"version",
     SimCommand::Kind::kVersion,
     4,
     {0, 0, 0, 0},
     {15, 15, 255, 255},
     "version MAJOR MINOR PATCH SPECIAL (0..15 0..15 0..255 0..255)"},
};

}  // namespace

std::string ParseSimCommand(std::string_view line, SimCommand& out) {
    out = SimCommand{};
    const std::vector<std::string> words = Words(line);
    if (words.empty() || words[0][0] == '#') {
        return {};
    }
    const std::string name = Lower(words[0]);
    for (const Syntax& syntax : kSyntax) {
        if (name != syntax.word) {
            continue;
        }
        if (static_cast<int>(words.size()) - 1 != syntax.argc) {
            return std::string("usage: ") + syntax.usage;
        }
        SimCommand command;
        command.kind = syntax.kind;
        for (int i = 0; i < syntax.argc; ++i) {
            if (!ParseNumber(words[i + 1], syntax.lo[i], syntax.hi[i], command.args[i])) {
                return "bad number '" + words[i + 1] + "'; usage: " + syntax.usage;
            }
        }
        out = command;
        return {};
    }
    return "unknown command '" + words[0] +
           "' (unplug, replug, switches, pot, paddle, delay, version)";
}

std::string ExecuteSimCommand(std::string_view line, ISimControls& controls) {
    SimCommand command;
    std::string error = ParseSimCommand(line, command);
    if (!error.empty()) {
        return error;
    }
    const int* a = command.args;
    switch (command.kind) {
        case SimCommand::Kind::kNone:
            break;
        case SimCommand::Kind::kUnplug:
            controls.Unplug();
            break;
        case SimCommand::Kind::kReplug:
            controls.Replug();
            break;
        case SimCommand::Kind::kPaddle:
            controls.PressPaddle();
            break;
        case SimCommand::Kind::kSwitches:
            controls.SetSwitches(static_cast<uint8_t>(a[0]));
            break;
        case SimCommand::Kind::kPot:
            controls.SetPot(static_cast<uint8_t>(a[0]));
            break;
        case SimCommand::Kind::kDelay:
            controls.SetReplyDelayMs(a[0]);
            break;
        case SimCommand::Kind::kVersion:
            controls.SetVersion(static_cast<uint8_t>(a[0]), static_cast<uint8_t>(a[1]),
                                static_cast<uint8_t>(a[2]), static_cast<uint8_t>(a[3]));
            break;
    }
    return {};
}

}  // namespace zuvo::sim
