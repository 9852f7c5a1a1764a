#include "core/event_log.h"

#include <cstdio>

namespace zuvo {

namespace {
std::string WithPrefix(std::string_view prefix, const char* rest) {
    std::string line(prefix);
    line += rest;
    return line;
}
}  // namespace

std::string Hex2(uint8_t b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "0x%.2x", b);
    return buf;
}

std::string FormatByteLine(std::string_view prefix, uint8_t b) {
    char buf[32];
    if (b >= 0x20 && b <= 0x7A) {
        std::snprintf(buf, sizeof buf, " 0x%.2x('%c')", b, b);
    } else {
        std::snprintf(buf, sizeof buf, " 0x%.2x", b);
    }
    return WithPrefix(prefix, buf);
}

std::string FormatBytes2Line(std::string_view prefix, uint8_t b1, uint8_t b2) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " 0x%.2x 0x%.2x", b1, b2);
    return WithPrefix(prefix, buf);
}

std::string FormatBytes3Line(std::string_view prefix, uint8_t b1, uint8_t b2, uint8_t b3) {
    char buf[32];
    std::snprintf(buf, sizeof buf, " 0x%.2x 0x%.2x 0x%.2x", b1, b2, b3);
    return WithPrefix(prefix, buf);
}

bool FormatQuotedLine(std::string_view prefix, std::string_view text, std::string& line) {
    size_t n = 0;
    while (n < text.size() && n < 64 && text[n] != '\0') {
        ++n;
    }
    // k: position of the last character that is not CR.
    size_t k = n;
    while (k > 0 && text[k - 1] == '\r') {
        --k;
    }
    if (k <= 1) {
        return false;  // no such character, or it is at position 0
    }
    line.assign(prefix);
    line += " '";
    line.append(text.substr(0, k));
    line += '\'';
    return true;
}

}  // namespace zuvo
