#pragma once

#include <cstdint>

namespace zuvo::utility {

// Control ids of the utility's main window. The numbers are stable: a front end binds its
// widgets to them by the names of kControlNames.
enum ControlId : int {
    kText = 2000,
    kSend = 2001,
    kTune = 2002,
    kPtt = 2003,
    kSpeed = 2010,
    kKeyerType = 2011,
    kATiming = 2012,
    kTightTiming = 2013,
    kReverse = 2014,
    kLongWordSpace = 2015,
    kKeyerPtt = 2016,
    kAutospace = 2017,
    kWeight = 2020,
    kComp1 = 2021,
    kComp2 = 2022,
    kComp3 = 2023,
    kComp4 = 2024,
    kPotMin = 2030,
    kPotMax = 2031,
    kPttPre = 2032,
    kPttPost = 2033,
    kRxRadio1 = 2040,
    kRxRadio2 = 2041,
    kStereo = 2042,
    kTxRadio1 = 2043,
    kTxRadio2 = 2044,
    kStatusRx = 2045,
    kStatusTx = 2046,
    kMap1 = 2050,
    kMap2 = 2051,
    kAux1 = 2052,
    kAux2 = 2053,
    kAux3 = 2054,
    kAux4 = 2055,
    kUpdateAux = 2056,
    kEnableFsk = 2060,
    kInvert1 = 2061,
    kInvert2 = 2062,
    kInvert3 = 2063,
    kInvert4 = 2064,
    kConfiguration = 2070,
    kBlend = 2071,
    kBlendLevel = 2072,
    kMicRelays = 2073,
    kTxOnAux3 = 2074,
    kVerbose = 2075,
    kLog = 2080,
    kConnect = 2090,
    kUpdate = 2091,
    kOverwrite = 2092,
    kMultiplex = 2093,
    kReset = 2094,
    kAbout = 2099,  // the system-menu entry "&About Zuvo Box utility..."
};

struct ControlName {
    ControlId id;
    const char* name;  // widget object name in the window's layout file
};

inline constexpr ControlName kControlNames[] = {
    {kText, "text"},
    {kSend, "send"},
    {kTune, "tune"},
    {kPtt, "ptt"},
    {kSpeed, "speed"},
    {kKeyerType, "keyerType"},
    {kATiming, "aTiming"},
    {kTightTiming, "tightTiming"},
    {kReverse, "reverse"},
    {kLongWordSpace, "longWordSpace"},
    {kKeyerPtt, "keyerPtt"},
    {kAutospace, "autospace"},
    {kWeight, "weight"},
    {kComp1, "comp1"},
    {kComp2, "comp2"},
    {kComp3, "comp3"},
    {kComp4, "comp4"},
    {kPotMin, "speedControlMin"},
    {kPotMax, "speedControlMax"},
    {kPttPre, "pttPre"},
    {kPttPost, "pttPost"},
    {kRxRadio1, "rxRadio1"},
    {kRxRadio2, "rxRadio2"},
    {kStereo, "stereo"},
    {kTxRadio1, "txRadio1"},
    {kTxRadio2, "txRadio2"},
    {kStatusRx, "statusRx"},
    {kStatusTx, "statusTx"},
    {kMap1, "map1"},
    {kMap2, "map2"},
    {kAux1, "aux1"},
    {kAux2, "aux2"},
    {kAux3, "aux3"},
    {kAux4, "aux4"},
    {kUpdateAux, "updateAux"},
    {kEnableFsk, "enableFsk"},
    {kInvert1, "invertRadio1"},
    {kInvert2, "invertRadio2"},
    {kInvert3, "invertRadio3"},
    {kInvert4, "invertRadio4"},
    {kConfiguration, "configuration"},
    {kBlend, "blend"},
    {kBlendLevel, "blendLevel"},
    {kMicRelays, "micRelays"},
    {kTxOnAux3, "txOnAux3"},
    {kVerbose, "verboseOutput"},
    {kLog, "log"},
    {kConnect, "connect"},
    {kUpdate, "update"},
    {kOverwrite, "overwrite"},
    {kMultiplex, "multiplex"},
    {kReset, "reset"},
};

// The box's settings as the utility last heard them. Sending does not change them (except
// the RTTY mirror, which each RTTY check box edits before sending it whole).
struct UtilityMirrors {
    uint8_t keyerStatus = 0;
    uint8_t keyerConfig = 0;
    uint8_t keyerConfig2 = 0;
    uint8_t zuvoConfig = 0;
    uint8_t zuvoState = 0;
    uint8_t zuvoSwitches = 0;
    uint8_t rttyConfig = 0;
    uint8_t version = 0;
    uint8_t patch = 0;
    uint8_t special = 0;
};

}  // namespace zuvo::utility
