#include "utility/hex_reader.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/temp_dir.h"
#include "utility/hex_builder.h"

namespace zuvo {
namespace {

using test::EndRecord;
using test::FirmwareBytes;
using test::HexData;
using test::HexRecord;
using Lines = std::vector<std::string>;

HexImage Read(const std::string& text, bool verbose = false) {
    return ReadHexText(text, verbose);
}

TEST(HexReader, AcceptsLineEndsBlanksAndLowercase) {
    std::string text = ":0420000001020304d2\r\n";  // lowercase checksum, CR LF
    text += HexRecord(0, 0x2040, {5, 6});
    text.back() = ' ';  // trailing blank instead of the newline
    text += "\n:00000001FF\n";
    const HexImage r = Read(text, true);
    ASSERT_TRUE(r.ok) << testing::PrintToString(r.lines);
    EXPECT_EQ(r.lines, Lines{"* Min 2000, Max 2041"});
    EXPECT_EQ(r.lowest, 0x2000u);
    EXPECT_EQ(r.highest, 0x2080u);
    EXPECT_EQ(r.image[0x2000], 1);
    EXPECT_EQ(r.image[0x2003], 4);
    EXPECT_EQ(r.image[0x2041], 6);
}

TEST(HexReader, BlankLinesStillCountInLineNumbers) {
    const std::string text = "\n \t\n" + HexRecord(0, 0x2000, {1}) + ":00000001\n" + EndRecord();
    EXPECT_EQ(Read(text).lines, Lines{"Line 4 is too short"});
    EXPECT_FALSE(Read(text).ok);
}

TEST(HexReader, ByteOrderMarkIsIgnoredAndAnyOtherTextRefusesTheFile) {
    const std::string bom = "\xEF\xBB\xBF";
    const std::string firmware = HexData(0x2000, std::vector<uint8_t>(32, 0x5A)) + EndRecord();
    const HexImage marked = Read(bom + firmware);
    ASSERT_TRUE(marked.ok) << testing::PrintToString(marked.lines);
    EXPECT_EQ(marked.image[0x2000], 0x5A);  // the first record is not lost to the mark
    // A skipped line would upload zeros in place of its record.
    EXPECT_EQ(Read(firmware + "; built by hand\n").lines, Lines{"Line 4 does not start with ':'"});
    EXPECT_EQ(Read("\n" + bom + firmware).lines, Lines{"Line 2 does not start with ':'"});
}

TEST(HexReader, EndRecordRules) {
    EXPECT_TRUE(Read(HexData(0x2000, std::vector<uint8_t>(100, 1)) + ":00000001FF").ok);
    EXPECT_EQ(Read(HexData(0x2000, {1}) + HexRecord(1, 0, {0xAA}) + EndRecord()).lines,
              Lines{"Bad end of file record at line 2"});
    EXPECT_EQ(Read(HexData(0x2000, {1}) + HexRecord(1, 0x0010, {}) + EndRecord()).lines,
              Lines{"Bad end of file record at line 2"});
    // Missing end record, and records after it (even an ignored type) count as missing.
    EXPECT_EQ(Read(HexData(0x2000, {1})).lines,
              Lines{"File does not end with end of file record at line 1"});
    EXPECT_EQ(Read(HexData(0x2000, {1}) + EndRecord() + HexRecord(4, 0, {0, 0}) + "\n").lines,
              Lines{"File does not end with end of file record at line 4"});
}

TEST(HexReader, StopsAtTheFirstBadLineAndAtDataPastTheFlash) {
    // Nothing after the first bad line is looked at: no further messages.
    EXPECT_EQ(Read(":0100000001FF\n:zz\n" + HexData(0x2000, {1})).lines,
              Lines{"Incorrect checksum on line 1"});
    // Data past the flash cannot be programmed, whatever follows it.
    EXPECT_EQ(Read(HexData(0x2000, {1}) + HexData(0x7FC1, {1}) + ":zz\n").lines,
              Lines{"Firmware too big for Zuvo Box - update cancelled"});
    EXPECT_EQ(Read(HexData(0x1000, {1}) + HexData(0x8000, {1}) + ":zz\n").lines,
              Lines{"Firmware would overwrite bootloader - update cancelled"});
}

TEST(HexReader, BadCharactersLengthsAndChecksums) {
    // Two bad characters: one line each, then the checksum fails too.
    EXPECT_EQ(Read(":0120000G0GDE\n" + EndRecord()).lines,
              (Lines{"Bad character in line 1", "Bad character in line 1",
                     "Incorrect checksum on line 1"}));
    EXPECT_EQ(Read(":0220000001DC\n" + EndRecord()).lines, Lines{"Incorrect line length"});
    EXPECT_EQ(Read(":01200000011E\n" + EndRecord()).lines, Lines{"Incorrect checksum on line 1"});
    const HexImage r = Read(":01200000011E\n" + EndRecord());
    EXPECT_FALSE(r.ok);
}

TEST(HexReader, LongLines) {
    // 122 data bytes make a line of exactly 255 characters: accepted, and its line end is
    // read as one more (skipped) line.
    const std::string full = HexRecord(0, 0x2000, std::vector<uint8_t>(122, 0xAA));
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(Read(full + ":zz\n" + EndRecord()).lines[0], "Line 3 is too short");
    EXPECT_TRUE(Read(full + EndRecord()).ok);
    // 123 bytes: the first 255 characters are a line of the wrong length, the rest is
    // skipped as a piece that does not start with ":".
    const HexImage r = Read(HexRecord(0, 0x2000, std::vector<uint8_t>(123, 0xAA)) + EndRecord());
    EXPECT_EQ(r.lines, Lines{"Incorrect line length"});
}

TEST(HexReader, UnknownRecordTypeIsOnlyAWarning) {
    const HexImage r =
        Read(HexData(0x2000, std::vector<uint8_t>(64, 1)) + HexRecord(5, 0, {1, 2, 3, 4}) +
             HexRecord(2, 0, {0x10, 0}) + EndRecord());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lines, Lines{"Unknown record type at line 5"});
}

TEST(HexReader, AddressRanges) {
    auto lines = [](uint16_t at, size_t n) {
        return Read(HexData(at, std::vector<uint8_t>(n, 1)) + EndRecord()).lines;
    };
    EXPECT_EQ(lines(0x1FFF, 2), Lines{"Firmware would overwrite bootloader - update cancelled"});
    EXPECT_EQ(lines(0x0065, 1), Lines{"Firmware would overwrite bootloader - update cancelled"});
    EXPECT_EQ(lines(0x0000, 101), Lines{"File does not contain firmware - update cancelled"});
    EXPECT_EQ(Read(HexRecord(3, 0, {0, 0, 0, 0}) + EndRecord()).lines,
              Lines{"File does not contain firmware - update cancelled"});
    EXPECT_EQ(Read(EndRecord()).lines, Lines{"File does not contain firmware - update cancelled"});
    const HexImage top = Read(HexData(0x7FB0, std::vector<uint8_t>(17, 1)) + EndRecord());
    EXPECT_TRUE(top.ok);
    EXPECT_EQ(top.highest, 0x7FC0u);
    EXPECT_EQ(lines(0x7FC1, 1), Lines{"Firmware too big for Zuvo Box - update cancelled"});
    EXPECT_EQ(lines(0x8000, 1), Lines{"Firmware too big for Zuvo Box - update cancelled"});
    const HexImage small = Read(HexData(0x2000, std::vector<uint8_t>(10, 1)) + EndRecord());
    EXPECT_TRUE(small.ok);
    EXPECT_EQ(small.lowest, 0x2000u);
    EXPECT_EQ(small.highest, 0x2040u);
}

TEST(HexReader, RecordPastTheImageEndDoesNotWriteOutsideIt) {
    // 32 bytes from 0xFFF0: sixteen land in the image, the rest are dropped.
    const HexImage r = Read(HexRecord(0, 0xFFF0, std::vector<uint8_t>(32, 0x5A)) + EndRecord());
    EXPECT_EQ(r.image.size(), kImageSize);
    EXPECT_EQ(r.image[0xFFFF], 0x5A);
    EXPECT_EQ(r.lines, Lines{"Firmware too big for Zuvo Box - update cancelled"});
}

TEST(HexReader, GarbageAndBinaryInput) {
    std::string garbage;
    for (size_t i = 0; i < (1u << 20); ++i) {
        garbage.push_back(static_cast<char>("xyz\n!~ "[i % 7]));
    }
    const HexImage g = Read(garbage);
    EXPECT_FALSE(g.ok);
    EXPECT_EQ(g.lines, Lines{"Line 1 does not start with ':'"});

    std::string binary;
    for (int i = 0; i < 4096; ++i) {
        binary.push_back(static_cast<char>(i * 131 % 256));
    }
    binary[0] = ':';
    const HexImage b = Read(binary);
    EXPECT_FALSE(b.ok);
}

TEST(HexReader, FileThatCannotBeOpenedOrReadIsRefusedWithTheSystemsReason) {
    EXPECT_EQ(ReadHexFile("/nonexistent/firmware.hex", false).lines,
              (Lines{"Cannot open file /nonexistent/firmware.hex", "No such file or directory"}));
    const test::TempDir folder;
    EXPECT_EQ(ReadHexFile(folder.Path(), false).lines,
              (Lines{"Cannot open file " + folder.Path(), "Is a directory"}));
#ifndef _WIN32
    // Opens, but its first read fails.
    EXPECT_EQ(ReadHexFile("/proc/self/mem", false).lines,
              (Lines{"Cannot read file /proc/self/mem", "Input/output error"}));
#endif
}

TEST(HexReader, ReadsAFileInChunksAsItsText) {
    // CR LF line ends, with one CR as the last byte of the first 64 KiB read.
    std::string text(15, ' ');
    text += "\r\n";
    for (const char c : HexData(0x2000, FirmwareBytes(0x5FC0, 1, 2, 3)) + EndRecord()) {
        text += c == '\n' ? std::string("\r\n") : std::string(1, c);
    }
    ASSERT_EQ(text[65535], '\r');
    const test::TempDir dir;
    std::ofstream(dir / "firmware.hex", std::ios::binary) << text;
    const HexImage file = ReadHexFile(dir / "firmware.hex", true);
    ASSERT_TRUE(file.ok) << testing::PrintToString(file.lines);
    EXPECT_EQ(file.lines, Read(text, true).lines);
    EXPECT_EQ(file.image, Read(text).image);
}

}  // namespace
}  // namespace zuvo
