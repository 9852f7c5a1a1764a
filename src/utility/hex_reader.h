#pragma once

#include <cstdint>
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
    std::vector<uint8_t> image = std::vector<uint8_t>(kImageSize, 0);
    uint32_t lowest = kImageSize;
    uint32_t highest = 0;
    std::vector<std::string> lines;
};

// Reads the text of a HEX file as the box's firmware reader accepts it. Data records are
// placed by their 16-bit load address only; bytes that would land past 0xFFFF are not
// stored (the file then fails the size check). verbose adds the "* Min %x, Max %x" line.
HexImage ReadHexText(std::string_view text, bool verbose);

// Opens the file and reads it; "Cannot open file %s" when it cannot be opened.
HexImage ReadHexFile(const std::string& path, bool verbose);

}  // namespace zuvo
