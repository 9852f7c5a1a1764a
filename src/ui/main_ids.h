#pragma once

// Control ids of the interface program's main window (the numbers are the window's own).
namespace zuvo::ids {

enum MainControl : int {
    kATiming = 1011,
    kTightTiming = 1012,
    kReverse = 1013,
    kAutospace = 1014,
    kKeyerPortCheck = 1018,  // "Keyer"
    kZuvoPortCheck = 1019,   // "Zuvo"
    kEventLogList = 1021,
    kLongWordSpace = 1024,
    kVerboseOutput = 1025,
    kKeyerPortList = 1026,
    kBlend = 1031,
    kLatch = 1032,
    kRxText = 1033,
    kTxText = 1034,
    kStereoText = 1035,
    kZuvoPortList = 1036,
    kVerboseZuvo = 1037,
    kVerboseKeyer = 1038,
    kWeightList = 1039,
    kKeyerPtt = 1040,
    kPttPreList = 1041,
    kPttPostList = 1042,
    kMap1List = 1043,
    kMap2List = 1044,
    kMicRelays = 1045,
    kSmartEditing = 1046,
    kBlendList = 1047,
    kModeIambic = 1048,
    kModeUltimatic = 1049,
    kModeDit = 1050,
    kModeDah = 1051,
    kModeStraight = 1052,
    kPhonesNormal = 1053,
    kPhonesSymmetric = 1054,
    kPhonesSpatial = 1055,
    kLoggerControls = 1056,
    kSpeedText = 1057,
    kAntennas1Text = 1058,
    kAntennas2Text = 1059,
    kTuneText = 1063,
    kPttText = 1064,
    kVerboseRtty = 1065,
    kPotMinList = 1066,
    kRx1 = 1067,
    kRx2 = 1068,
    kStereo = 1069,
    kTx1 = 1070,
    kTx2 = 1071,
    kPotMaxList = 1072,
    kPipes = 1075,
    kSplitStereo = 1076,
    // Labels enabled and disabled with their lists.
    kWeightLabel = 2001,
    kPttPreLabel = 2002,
    kPttPostLabel = 2003,
    kPotMinLabel = 2004,
    kPotMaxLabel = 2005,
};

// The About dialog's statics.
inline constexpr int kAboutVersion = 1075;
inline constexpr int kAboutFirmware = 1076;

// The window menu's entry that opens the About dialog, and its command id.
inline constexpr char kAboutMenuText[] = "&About Zuvo Box...";
inline constexpr unsigned kAboutCommand = 0x0010;

}  // namespace zuvo::ids
