#include "utility/hex_reader.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

namespace zuvo {

namespace {

constexpr size_t kPieceLength = 255;  // a line is read through a 256-character buffer
constexpr size_t kFileChunk = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

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

bool IsBlank(std::string_view line) {
    for (char c : line) {
        if (!std::isspace(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    return true;
}

// Cuts text into the pieces that reading it line by line through a 256-character buffer
// in text mode gives: CR LF reads as LF, and a piece ends after its newline or at 255
// characters. Text may arrive in chunks of any size.
class PieceSplitter {
  public:
    PieceSplitter() { piece_.reserve(kPieceLength); }

    // False as soon as the reader wants no more.
    bool Feed(std::string_view chunk, HexReader& reader) {
        for (char c : chunk) {
            if (pendingCr_) {
                pendingCr_ = false;
                if (c != '\n' && !Add('\r', reader)) {
                    return false;
                }
            }
            if (c == '\r') {
                pendingCr_ = true;
                continue;
            }
            if (!Add(c, reader)) {
                return false;
            }
        }
        return true;
    }

    void Finish(HexReader& reader) {
        if (pendingCr_) {
            pendingCr_ = false;
            if (!Add('\r', reader)) {
                return;
            }
        }
        if (!piece_.empty()) {
            reader.AddPiece(piece_);
            piece_.clear();
        }
    }

  private:
    bool Add(char c, HexReader& reader) {
        piece_.push_back(c);
        if (c != '\n' && piece_.size() < kPieceLength) {
            return true;
        }
        const bool more = reader.AddPiece(piece_);
        piece_.clear();
        return more;
    }

    std::string piece_;
    bool pendingCr_ = false;
};

HexImage Refused(const char* what, const std::string& path, std::error_code reason) {
    HexImage out;
    out.lines.push_back(what + path);
    out.lines.push_back(reason.message());
    return out;
}

}  // namespace

void HexReader::Error(std::string line) {
    out_.lines.push_back(std::move(line));
    error_ = true;
}

void HexReader::DataRecord(std::string_view line, uint32_t load, uint8_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t position = load + i;
        if (position < kImageSize) {
            out_.image[position] = HexByte(line, 9 + 2 * i);
        }
        if (position < out_.lowest && position > 100) {
            out_.lowest = position;
        }
        if (position > out_.highest) {
            out_.highest = position;
        }
    }
    // Aligned up to a whole block, this would pass the flash's end.
    if (out_.highest > (kFlashLimit & ~0x3Fu)) {
        pastFlash_ = true;
    }
}

bool HexReader::AddPiece(std::string_view line) {
    ++lineNumber_;
    const size_t nul = line.find('\0');
    if (nul != std::string_view::npos) {
        line = line.substr(0, nul);
    }
    // Editors on some systems save text with a byte-order mark; it is no part of the file.
    if (lineNumber_ == 1 && line.substr(0, kByteOrderMark.size()) == kByteOrderMark) {
        line.remove_prefix(kByteOrderMark.size());
    }
    if (IsBlank(line)) {
        return true;
    }
    if (line[0] != ':') {
        // Skipping it could drop a record and program zeros in its place.
        Error(Format("Line %d does not start with ':'", lineNumber_));
        return false;
    }
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) {
        line.remove_suffix(1);
    }
    if (line.size() <= 10) {
        Error(Format("Line %d is too short", lineNumber_));
        return false;
    }
    for (size_t i = 1; i < line.size(); ++i) {
        if (HexDigit(line[i]) < 0) {
            Error(Format("Bad character in line %d", lineNumber_));
        }
    }
    const uint8_t count = HexByte(line, 1);
    if (line.size() != 2u * count + 11) {
        Error("Incorrect line length");
        return false;
    }
    const uint32_t load = HexByte(line, 3) << 8 | HexByte(line, 5);
    const uint8_t type = HexByte(line, 7);
    uint8_t sum = 0;
    for (size_t i = 0; i < count + 5u; ++i) {
        sum = static_cast<uint8_t>(sum + HexByte(line, 1 + 2 * i));
    }
    if (sum != 0) {
        Error(Format("Incorrect checksum on line %d", lineNumber_));
        return false;
    }
    if (error_) {
        return false;  // bad characters that happened to sum up
    }
    endRecord_ = false;
    switch (type) {
        case 0x00:
            DataRecord(line, load, count);
            break;
        case 0x01:
            if (count == 0 && load == 0) {
                endRecord_ = true;
            } else {
                Error(Format("Bad end of file record at line %d", lineNumber_));
            }
            break;
        case 0x02:
        case 0x03:
        case 0x04:
            break;  // extended addresses: records are placed by load address only
        default:
            out_.lines.push_back(Format("Unknown record type at line %d", lineNumber_));
            break;
    }
    return !error_ && !pastFlash_;
}

HexImage HexReader::Finish() {
    HexImage out = std::move(out_);
    out_ = HexImage();
    if (error_) {
        return out;
    }
    // Data past the flash fails the size check below whatever the rest of the file holds.
    if (!endRecord_ && !pastFlash_) {
        out.lines.push_back(
            Format("File does not end with end of file record at line %d", lineNumber_));
        return out;
    }
    if (verbose_) {
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

HexImage ReadHexText(std::string_view text, bool verbose) {
    HexReader reader(verbose);
    PieceSplitter splitter;
    if (splitter.Feed(text, reader)) {
        splitter.Finish(reader);
    }
    return reader.Finish();
}

HexImage ReadHexFile(const std::string& path, bool verbose,
                     const std::function<bool()>& cancelled) {
    // Opening a folder succeeds on some systems and only its first read fails.
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        return Refused("Cannot open file ", path, std::make_error_code(std::errc::is_a_directory));
    }
    errno = 0;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"),
                                                               &std::fclose);
    if (!file) {
        return Refused("Cannot open file ", path, std::error_code(errno, std::generic_category()));
    }
    HexReader reader(verbose);
    PieceSplitter splitter;
    std::vector<char> chunk(kFileChunk);
    for (;;) {
        if (cancelled && cancelled()) {
            HexImage out;
            out.cancelled = true;
            return out;
        }
        errno = 0;
        const size_t n = std::fread(chunk.data(), 1, chunk.size(), file.get());
        if (std::ferror(file.get())) {
            const int err = errno != 0 ? errno : EIO;
            return Refused("Cannot read file ", path,
                           std::error_code(err, std::generic_category()));
        }
        if (!splitter.Feed(std::string_view(chunk.data(), n), reader)) {
            return reader.Finish();
        }
        if (std::feof(file.get())) {
            break;
        }
    }
    splitter.Finish(reader);
    return reader.Finish();
}

}  // namespace zuvo
