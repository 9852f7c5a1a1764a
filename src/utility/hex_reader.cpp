#include "utility/hex_reader.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace zuvo {

namespace {

constexpr size_t kPieceLength = 255;  // a line is read through a 256-character buffer

std::string Format(const char* format, uint32_t a) {
    char buf[96];
    std::snprintf(buf, sizeof buf, format, static_cast<unsigned>(a));
    return buf;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// A bad character has already been reported; it decodes as 0 so the rest of the line can
// still be checked.
uint8_t HexByte(std::string_view line, size_t at) {
    const int hi = at < line.size() ? HexDigit(line[at]) : -1;
    const int lo = at + 1 < line.size() ? HexDigit(line[at + 1]) : -1;
    return static_cast<uint8_t>((hi < 0 ? 0 : hi) << 4 | (lo < 0 ? 0 : lo));
}

// Splits the text as reading it line by line through a 256-character buffer would: pieces
// of at most 255 characters, each ending after its newline if one comes first. Text-mode
// reading turns CR LF into LF, and a NUL ends what the reader sees of a piece.
std::vector<std::string_view> Pieces(std::string_view text, std::string& storage) {
    storage.clear();
    storage.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue;
        }
        storage.push_back(text[i]);
    }
    std::vector<std::string_view> pieces;
    std::string_view rest(storage);
    while (!rest.empty()) {
        size_t n = 0;
        while (n < rest.size() && n < kPieceLength) {
            if (rest[n++] == '\n') {
                break;
            }
        }
        std::string_view piece = rest.substr(0, n);
        const size_t nul = piece.find('\0');
        pieces.push_back(nul == std::string_view::npos ? piece : piece.substr(0, nul));
        rest.remove_prefix(n);
    }
    return pieces;
}

}  // namespace

HexImage ReadHexText(std::string_view text, bool verbose) {
    HexImage out;
    bool error = false;
    bool endRecord = false;
    uint32_t lineNumber = 0;
    std::string storage;
    for (std::string_view line : Pieces(text, storage)) {
        ++lineNumber;
        if (line.empty() || line[0] != ':') {
            continue;
        }
        while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
            line.remove_suffix(1);
        }
        if (line.size() <= 10) {
            out.lines.push_back(Format("Line %d is too short", lineNumber));
            error = true;
            continue;
        }
        for (size_t i = 1; i < line.size(); ++i) {
            if (HexDigit(line[i]) < 0) {
                out.lines.push_back(Format("Bad character in line %d", lineNumber));
                error = true;
            }
        }
        const uint8_t count = HexByte(line, 1);
        if (line.size() != 2u * count + 11) {
            out.lines.emplace_back("Incorrect line length");
            error = true;
            continue;
        }
        const uint32_t load = HexByte(line, 3) << 8 | HexByte(line, 5);
        const uint8_t type = HexByte(line, 7);
        uint8_t sum = 0;
        for (size_t i = 0; i < count + 5u; ++i) {
            sum = static_cast<uint8_t>(sum + HexByte(line, 1 + 2 * i));
        }
        if (sum != 0) {
            out.lines.push_back(Format("Incorrect checksum on line %d", lineNumber));
            error = true;
            continue;
        }
        endRecord = false;
        switch (type) {
            case 0x00:
                for (uint32_t i = 0; i < count; ++i) {
                    const uint32_t position = load + i;
                    if (position < kImageSize) {
                        out.image[position] = HexByte(line, 9 + 2 * i);
                    }
                    if (position < out.lowest && position > 100) {
                        out.lowest = position;
                    }
                    if (position > out.highest) {
                        out.highest = position;
                    }
                }
                break;
            case 0x01:
                if (count == 0 && load == 0) {
                    endRecord = true;
                } else {
                    out.lines.push_back(Format("Bad end of file record at line %d", lineNumber));
                    error = true;
                }
                break;
            case 0x02:
            case 0x03:
            case 0x04:
                break;  // extended addresses: records are placed by load address only
            default:
                out.lines.push_back(Format("Unknown record type at line %d", lineNumber));
                break;
        }
    }
    if (!endRecord) {
        out.lines.push_back(
            Format("File does not end with end of file record at line %d", lineNumber));
        return out;
    }
    if (error) {
        return out;
    }
    if (verbose) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "* Min %x, Max %x", static_cast<unsigned>(out.lowest),
                      static_cast<unsigned>(out.highest));
        out.lines.emplace_back(buf);
    }
    out.lowest &= ~0x3Fu;
    out.highest = (out.highest + 0x3F) & ~0x3Fu;
    if (out.lowest < kBootLoaderEnd) {
        out.lines.emplace_back("Firmware would overwrite bootloader - update cancelled");
    } else if (out.highest > kFlashLimit) {
        out.lines.emplace_back("Firmware too big for Zuvo Box - update cancelled");
    } else if (out.highest <= out.lowest) {
        out.lines.emplace_back("File does not contain firmware - update cancelled");
    } else {
        out.ok = true;
    }
    return out;
}

HexImage ReadHexFile(const std::string& path, bool verbose) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        HexImage out;
        out.lines.push_back("Cannot open file " + path);
        return out;
    }
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    return ReadHexText(text, verbose);
}

}  // namespace zuvo
