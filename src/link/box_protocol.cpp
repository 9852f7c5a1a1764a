#include "link/box_protocol.h"

#include <cstdio>

namespace zuvo::box {

const char* CommandName(uint8_t code) {
    switch (code) {
        case kQuery:
            return "Query";
        case kPatchLevel:
            return "Box Patch Level";
        case kSpecialVersion:
            return "Box Special Version";
        case kResetDefaults:
            return "Reset Defaults";
        case kUpdateMode:
            return "Update Mode";
        case kDebug1:
            return "Debug 1";
        case kDebug2:
            return "Debug 2";
        case kDebug3:
            return "Debug 3";
        case kDebug4:
            return "Debug 4";
        case kKeyerStatus:
            return "Keyer Status";
        case kKeyerSpeed:
            return "Keyer Speed";
        case kKeyerConfig:
            return "Keyer Config";
        case kKeyerChar:
            return "Keyer Char";
        case kKeyerOverwrite:
            return "Keyer Overwrite";
        case kKeyerAbort:
            return "Keyer Abort";
        case kKeyerControl:
            return "Keyer Control";
        case kKeyerEvent:
            return "Keyer Event";
        case kKeyerSpeedDelta:
            return "Keyer Speed Delta";
        case kPttPreSend:
            return "PTT Pre-send time";
        case kPttPostSend:
            return "PTT Post-send time";
        case kKeyerWeight:
            return "Keyer Weight";
        case kKeyerPotSpeed:
            return "Keyer Pot Speed";
        case kKeyerSendingChar:
            return "Keyer Sending Char";
        case kKeyerPotMin:
            return "Keyer Pot Min";
        case kKeyerPotMax:
            return "Keyer Pot Max";
        case kAux1:
            return "Aux 1";
        case kAux2:
            return "Aux 2";
        case kAux3:
            return "Aux 3";
        case kAux4:
            return "Aux 4";
        case kZuvoState:
            return "Zuvo State";
        case kZuvoConfig:
            return "Zuvo Config";
        case kZuvoSwitches:
            return "Zuvo Switches";
        case kZuvoBlend:
            return "Zuvo Blend";
        case kZuvoMap1:
            return "Zuvo Map 1";
        case kZuvoMap2:
            return "Zuvo Map 2";
        case kRttyConfig:
            return "RTTY Config";
        case kRttyStatus:
            return "RTTY Status";
        case kRttySpeedBits:
            return "RTTY Speed Bits";
        case kRttyCharacter:
            return "RTTY Character";
        case kComp1:
            return "Comp1";
        case kComp2:
            return "Comp2";
        case kComp3:
            return "Comp3";
        case kComp4:
            return "Comp4";
        case kKeyerConfig2:
            return "Keyer Config2";
        case kNotRecognized:
            return "Not Recognized";
        default:
            return nullptr;
    }
}

std::string VersionNumbers(uint8_t versionByte, uint8_t patch, uint8_t special) {
    char buf[48];
    if (special != 0) {
        std::snprintf(buf, sizeof buf, "%d.%d-%d(%d)", versionByte >> 4, versionByte & 0x0F, patch,
                      special);
    } else {
        std::snprintf(buf, sizeof buf, "%d.%d-%d", versionByte >> 4, versionByte & 0x0F, patch);
    }
    return buf;
}

}  // namespace zuvo::box
