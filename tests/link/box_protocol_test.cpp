#include "link/box_protocol.h"

#include <gtest/gtest.h>

namespace zuvo::box {
namespace {

TEST(BoxProtocol, EncodingsFollowTheCommandTable) {
    EXPECT_EQ(WeightFromPercent(50), 128);
    EXPECT_EQ(WeightFromPercent(10), 25);
    EXPECT_EQ(PttTimeFromUnits(25), 250);
    EXPECT_EQ(PttTimeFromUnits(26), 255);
    EXPECT_EQ(CompToByte(-63), 0xC1);
    EXPECT_EQ(CompToByte(63), 0xBF);
    EXPECT_EQ(CompFromByte(0xC1), -63);
    EXPECT_EQ(CompFromByte(0xBF), 63);
    EXPECT_EQ(CompFromByte(0x80), 0);
    EXPECT_EQ(static_cast<int8_t>(0xFB), -5);  // Keyer Speed Delta 0xFB is minus 5 WPM
}

TEST(BoxProtocol, ReportWordKeepsTheWholeCode) {
    EXPECT_EQ(WordCode(ReportWord(0x80, 0x12)), 0x80);  // never masked to 7 bits
    EXPECT_EQ(WordValue(ReportWord(0x80, 0x12)), 0x12);
}

TEST(BoxProtocol, VersionText) {
    EXPECT_EQ(VersionNumbers(0x12, 3, 0), "1.2-3");
    EXPECT_EQ(VersionNumbers(0x12, 3, 4), "1.2-3(4)");
    EXPECT_EQ(VersionNumbers(0x21, 5, 7), "2.1-5(7)");
}

TEST(BoxProtocol, ConnectQueryEndsWithKeyerStatus) {
    EXPECT_EQ(kInterfaceConnectQuery.back(), kKeyerStatus);
    EXPECT_EQ(kUtilityConnectQuery.back(), kRttyConfig);
}

}  // namespace
}  // namespace zuvo::box
