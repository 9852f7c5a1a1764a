#include "ui/status_look.h"

#include "ui/main_ids.h"

namespace zuvo {

StatusLook StatusLookOf(int id, std::string_view text) {
    switch (id) {
        case ids::kTxText:
        case ids::kRxText:
            if (text.find("Inhibit") != std::string_view::npos) {
                return StatusLook::kInhibit;
            }
            if (text.starts_with("TX1") || text.starts_with("RX1")) {
                return StatusLook::kRadio1;
            }
            if (text.starts_with("TX2") || text.starts_with("RX2")) {
                return StatusLook::kRadio2;
            }
            return StatusLook::kPlain;
        case ids::kPttText:
            return text.empty() ? StatusLook::kPlain : StatusLook::kPttOn;
        case ids::kTuneText:
            return text.empty() ? StatusLook::kPlain : StatusLook::kTuneOn;
        default:
            return StatusLook::kPlain;
    }
}

StatusColours ColoursOf(StatusLook look) {
    switch (look) {
        case StatusLook::kRadio1:
            return {{0x15, 0x65, 0xc0}, {0xff, 0xff, 0xff}};
        case StatusLook::kRadio2:
            return {{0xef, 0x6c, 0x00}, {0xff, 0xff, 0xff}};
        case StatusLook::kInhibit:
            return {{0x61, 0x61, 0x61}, {0xff, 0xeb, 0x3b}};
        case StatusLook::kPttOn:
            return {{0xc6, 0x28, 0x28}, {0xff, 0xff, 0xff}};
        case StatusLook::kTuneOn:
            return {{0x6a, 0x1b, 0x9a}, {0xff, 0xff, 0xff}};
        case StatusLook::kPlain:
            break;
    }
    return {{0xf0, 0xf0, 0xf0}, {0x00, 0x00, 0x00}};
}

}  // namespace zuvo
