#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace zuvo::box {

// Box command codes (one command per 3-byte report: report ID 0, code, value).
enum Code : uint8_t {
    kQuery = 0x00,
    kPatchLevel = 0x01,
    kSpecialVersion = 0x02,
    kResetDefaults = 0x03,
    kUpdateMode = 0x08,
    kDebug1 = 0x0A,
    kDebug2 = 0x0B,
    kDebug3 = 0x0C,
    kDebug4 = 0x0D,
    kKeyerStatus = 0x10,
    kKeyerSpeed = 0x11,
    kKeyerConfig = 0x12,
    kKeyerChar = 0x13,
    kKeyerOverwrite = 0x14,
    kKeyerAbort = 0x15,
    kKeyerControl = 0x16,
    kKeyerEvent = 0x17,
    kKeyerSpeedDelta = 0x18,
    kPttPreSend = 0x19,
    kPttPostSend = 0x1A,
    kKeyerWeight = 0x1B,
    kKeyerPotSpeed = 0x1C,
    kKeyerSendingChar = 0x1D,
    kKeyerPotMin = 0x1E,
    kKeyerPotMax = 0x1F,
    kAux1 = 0x20,
    kAux2 = 0x21,
    kAux3 = 0x22,
    kAux4 = 0x23,
    kZuvoState = 0x30,
    kZuvoConfig = 0x31,
    kZuvoSwitches = 0x32,
    kZuvoBlend = 0x33,
    kZuvoMap1 = 0x34,
    kZuvoMap2 = 0x35,
    kRttyConfig = 0x40,
    kRttyStatus = 0x41,
    kRttySpeedBits = 0x42,
    kRttyCharacter = 0x43,
    kComp1 = 0x50,
    kComp2 = 0x51,
    kComp3 = 0x52,
    kComp4 = 0x53,
    kKeyerConfig2 = 0x54,
    kNotRecognized = 0x7F,
};

inline constexpr uint8_t kResetDefaultsValue = 0x24;
inline constexpr uint8_t kUpdateModeValue = 0x21;
inline constexpr uint8_t kNotRecognizedNothing = 0xFF;

// Keyer Control actions (out) and state bits (in).
inline constexpr uint8_t kControlTuneOff = 1;
inline constexpr uint8_t kControlTuneOn = 2;
inline constexpr uint8_t kControlSpeedFromHost = 4;
inline constexpr uint8_t kControlSpeedFromPot = 8;
inline constexpr uint8_t kControlBitTuning = 0x02;
inline constexpr uint8_t kControlBitPot = 0x08;

// Keyer Event values.
enum KeyerEvent : uint8_t {
    kEventNone = 0,
    kEventEndOfCharacter = 1,
    kEventIdle = 2,
    kEventClear = 3,
    kEventPaddlePressed = 4,
};

// Zuvo State bits.
inline constexpr uint8_t kStateTxRadio2 = 0x01;
inline constexpr uint8_t kStateRxRadio2 = 0x02;
inline constexpr uint8_t kStateStereo = 0x04;
inline constexpr uint8_t kStatePtt = 0x08;
inline constexpr uint8_t kStateReverse = 0x10;

// Zuvo Switches bits.
inline constexpr uint8_t kSwitchTx1 = 0x01;
inline constexpr uint8_t kSwitchTx2 = 0x02;
inline constexpr uint8_t kSwitchRx1 = 0x04;
inline constexpr uint8_t kSwitchRx2 = 0x08;
inline constexpr uint8_t kSwitchPttInput = 0x10;

// USB identity.
inline constexpr uint16_t kVendorId = 0x16C0;
inline constexpr uint16_t kProductApplication = 0x065E;
inline constexpr uint16_t kProductBootLoader = 0x065F;

inline constexpr size_t kReportSize = 3;
inline constexpr size_t kBootReportSize = 65;
inline constexpr uint16_t kReadErrorWord = 0xFFFF;

// Connect queries, in the order each program sends them. Keyer Status comes last for the
// interface program: its answer ends the connect query.
inline constexpr std::array<uint8_t, 27> kInterfaceConnectQuery = {
    0,  1,  2,  17, 24, 27, 25, 26, 22, 18, 84, 30, 31, 49,
    51, 48, 50, 52, 53, 32, 33, 34, 35, 64, 65, 66, 16};
inline constexpr std::array<uint8_t, 28> kUtilityConnectQuery = {
    0,  1,  2,  17, 27, 25, 26, 22, 16, 18, 84, 30, 31, 80,
    81, 82, 83, 49, 48, 50, 51, 52, 53, 32, 33, 34, 35, 64};

// The name of a code as the log lines give it ("Keyer Speed"), or nullptr for a code that
// has no name.
const char* CommandName(uint8_t code);

// Report word of an inbound report: code in the high byte, value in the low byte.
constexpr uint16_t ReportWord(uint8_t code, uint8_t value) {
    return static_cast<uint16_t>(code << 8 | value);
}
constexpr uint8_t WordCode(uint32_t word) {
    return static_cast<uint8_t>((word >> 8) & 0xFF);
}
constexpr uint8_t WordValue(uint32_t word) {
    return static_cast<uint8_t>(word & 0xFF);
}

// Value encodings.
constexpr uint8_t WeightFromPercent(int percent) {
    return static_cast<uint8_t>(percent * 256 / 100);
}
constexpr uint8_t PttTimeFromUnits(int tensOfMs) {
    return tensOfMs > 25 ? 255 : static_cast<uint8_t>(tensOfMs * 10);
}
constexpr uint8_t CompToByte(int comp) {
    return static_cast<uint8_t>(comp | 0x80);
}
constexpr int CompFromByte(uint8_t value) {
    int c = value & 0x7F;
    return (c & 0x40) != 0 ? c - 0x80 : c;
}

// "%d.%d-%d" firmware version, with "(%d)" appended when the special version is not 0.
std::string VersionNumbers(uint8_t versionByte, uint8_t patch, uint8_t special);

}  // namespace zuvo::box
