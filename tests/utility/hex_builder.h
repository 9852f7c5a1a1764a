#pragma once

// Builds Intel HEX records for tests.

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace zuvo::test {

inline std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::string line = ":";
    char buf[16];
    uint8_t sum = static_cast<uint8_t>(data.size() + (address >> 8) + (address & 0xFF) + type);
    std::snprintf(buf, sizeof buf, "%02X%04X%02X", static_cast<unsigned>(data.size()), address,
                  type);
    line += buf;
    for (uint8_t b : data) {
        std::snprintf(buf, sizeof buf, "%02X", b);
        line += buf;
        sum = static_cast<uint8_t>(sum + b);
    }
    std::snprintf(buf, sizeof buf, "%02X", static_cast<uint8_t>(-sum) & 0xFF);
    line += buf;
    return line + "\n";
}

inline std::string EndRecord() {
    return ":00000001FF\n";
}

// Data records of up to 16 bytes covering [from, from + bytes.size()).
inline std::string HexData(uint16_t from, const std::vector<uint8_t>& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); i += 16) {
        const size_t n = bytes.size() - i < 16 ? bytes.size() - i : 16;
        text += HexRecord(0, static_cast<uint16_t>(from + i),
                          std::vector<uint8_t>(bytes.begin() + i, bytes.begin() + i + n));
    }
    return text;
}

// A firmware image from..to (exclusive) with a recognisable pattern and the version bytes
// the simulated boot loader reports at 0x2000.
inline std::vector<uint8_t> FirmwareBytes(size_t size, uint8_t version, uint8_t patch,
                                          uint8_t special) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    bytes[0] = version;
    bytes[1] = patch;
    bytes[2] = special;
    return bytes;
}

}  // namespace zuvo::test
