#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/message_queue.h"

namespace zuvo {

// The main window's manual TX/RX controls, used while the switching port is closed. They
// drive the OTRSP interpreter with the lines a logger would send.
struct ManualSwitchingControls {
    bool tx1 = true;
    bool tx2 = false;
    bool rx1 = true;
    bool rx2 = false;
    bool stereo = false;
};

// "TX1\r" when "TX 1" is checked, else "TX2\r".
std::string ManualTxLine(const ManualSwitchingControls& c);
// "RX1" or "RX2" by "RX 1", "S" when "Stereo" is checked, then CR.
std::string ManualRxLine(const ManualSwitchingControls& c);

// Posts each character of line as a switching port message (error 0), as if the logger
// had sent it.
void PostSwitchingLine(platform::IMessagePoster& poster, const std::string& line);

}  // namespace zuvo
