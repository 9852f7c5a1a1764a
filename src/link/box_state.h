#pragma once

#include <cstdint>
#include <string>

namespace zuvo {

// The interface program's mirror of what the box last reported. Written by the report
// handler (and the few exceptions noted), read by the keyer, switching, RTTY and display
// pieces. Main thread only.
struct BoxState {
    uint8_t versionByte = 0;
    uint8_t patchLevel = 0;
    uint8_t specialVersion = 0;
    std::string firmwareVersionText;  // shown in the About box
    uint8_t keyerStatus = 0;
    bool initialQuery = false;  // the connect query is still running
    uint8_t keyerSpeed = 0;
    int8_t speedOffset = 0;
    uint8_t keyerConfig = 0;
    uint8_t keyerConfig2 = 0;
    uint8_t keyerControl = 0;
    uint8_t potSpeed = 0;        // last Keyer Pot Speed
    bool potSpeedKnown = false;  // a Keyer Pot Speed came from this connection
    bool tune = false;  // also cleared by the keyer emulation when its host clears the buffer
    uint8_t switchingState = 0;
    uint8_t switchingConfig = 0;
    uint8_t switchingSwitches = 0;
    uint8_t aux[4] = {0, 0, 0, 0};
    uint8_t map[2] = {0, 0};
    uint8_t rttyConfig = 0;
    uint8_t lastRttyStatus = 0;  // kept by the RTTY bridge

    // Main window start-up.
    void ClearAtStartup() {
        tune = false;
        keyerStatus = keyerConfig = keyerConfig2 = 0;
        switchingConfig = switchingState = switchingSwitches = 0;
        aux[0] = aux[1] = aux[2] = aux[3] = 0;
    }
    // The disconnected view; the other fields keep their values until the next connection.
    void ClearForDisconnectedView() {
        keyerStatus = keyerConfig = keyerConfig2 = 0;
        switchingConfig = switchingState = switchingSwitches = 0;
        firmwareVersionText.clear();
        potSpeedKnown = false;
    }
};

}  // namespace zuvo
