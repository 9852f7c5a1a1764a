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

std::vector<std::string> SyncManualSwitching(ManualSwitchingControls& c, uint8_t s, uint8_t w) {
    std::vector<std::string> lines;
    if (w & box::kSwitchRx1) {
        c.rx1 = true;
        c.rx2 = false;
        c.stereo = false;
        if (s & (box::kStateRxRadio2 | box::kStateReverse | box::kStateStereo)) {
            lines.push_back(ManualRxLine(c));
        }
    } else if (w & box::kSwitchRx2) {
        c.rx2 = true;
        c.rx1 = false;
        c.stereo = false;
        if ((s & box::kStateRxRadio2) == 0 || (s & (box::kStateStereo | box::kStateReverse))) {
            lines.push_back(ManualRxLine(c));
        }
    } else {
        c.rx1 = (s & box::kStateRxRadio2) == 0;
        c.rx2 = !c.rx1;
    }
    c.stereo = (s & (box::kStateStereo | box::kStateReverse)) != 0;
    if (w & box::kSwitchTx1) {
        c.tx1 = true;
        c.tx2 = false;
        if (s & box::kStateTxRadio2) {
            lines.push_back(ManualTxLine(c));
        }
    } else if (w & box::kSwitchTx2) {
        c.tx2 = true;
        c.tx1 = false;
        if ((s & box::kStateTxRadio2) == 0) {
            lines.push_back(ManualTxLine(c));
        }
    } else {
        c.tx1 = (s & box::kStateTxRadio2) == 0;
        c.tx2 = !c.tx1;
    }
    return lines;
}

}  // namespace zuvo
