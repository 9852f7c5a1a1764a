#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zuvo {

// Program memory limits of the box: the boot loader holds the bottom 8 KiB, the firmware
// must end below 32 KiB.
inline constexpr uint32_t kBootLoaderEnd = 0x2000;
inline constexpr uint32_t kFlashLimit = 0x7FFF;
inline constexpr uint32_t kImageSize = 0x10000;

// What reading an Intel HEX file produced. On success lowest and highest are aligned to
// 64-byte blocks and bound the erase, upload and verify; lines holds every message, in the
// order the utility logs them.
struct HexImage {
    bool ok = false;
    bool cancelled = false;  // reading was given up on request; lines is then empty
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
    uint32_t lowest = kImageSize;
    uint32_t highest = 0;
    std::vector<std::string> lines;
};

// Reads a HEX file one piece at a time, as the firmware reader takes it: each piece is what
// one read through a 256-character line buffer gives (at most 255 characters, ending after
// its newline if one comes first). Reading stops at the first line with an error, since the
// file is refused anyway, and as soon as data lands where no firmware fits, so neither a
// damaged nor a huge file is read to its end. Memory stays the image and one piece.
class HexReader {
  public:
    explicit HexReader(bool verbose) : verbose_(verbose) {}

    // One piece; a NUL ends what is seen of it. False once reading should stop.
    bool AddPiece(std::string_view piece);
    // The checks that need the whole file, then the result.
    HexImage Finish();

  private:
    void Error(std::string line);
    void DataRecord(std::string_view line, uint32_t load, uint8_t count);

    bool verbose_;
    HexImage out_;
    uint32_t lineNumber_ = 0;
    bool error_ = false;
    bool endRecord_ = false;
    bool pastFlash_ = false;  // data beyond the flash: the size check fails whatever follows
};

// Reads the text of a HEX file. Data records are placed by their 16-bit load address only;
// bytes that would land past 0xFFFF are not stored (the file then fails the size check).
// verbose adds the "* Min %x, Max %x" line.
HexImage ReadHexText(std::string_view text, bool verbose);

// Reads the file in chunks, never holding more than one chunk of it. "Cannot open file %s"
// (followed by the system's reason) when it cannot be opened, "Cannot read file %s" when a
// read fails. cancelled, when given, is asked between chunks; true gives up at once.
HexImage ReadHexFile(const std::string& path, bool verbose,
                     const std::function<bool()>& cancelled = {});

}  // namespace zuvo
