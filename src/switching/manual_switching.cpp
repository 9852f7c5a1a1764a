#include "switching/manual_switching.h"

#include "link/box_protocol.h"

namespace zuvo {

std::string ManualTxLine(const ManualSwitchingControls& c) {
    return c.tx1 ? "TX1\r" : "TX2\r";
}

std::string ManualRxLine(const ManualSwitchingControls& c) {
    std::string line = c.rx1 ? "RX1" : "RX2";
    if (c.stereo) {
        line += 'S';
    }
    return line + "\r";
}

void PostSwitchingLine(platform::IMessagePoster& poster, const std::string& line) {
    for (char ch : line) {
        platform::Message m;
        m.id = platform::kMsgSwitchingPortByte;
        m.wParam = 0;
        m.lParam = static_cast<int32_t>(static_cast<signed char>(ch));
        poster.Post(std::move(m));
    }
}

}  // namespace zuvo
