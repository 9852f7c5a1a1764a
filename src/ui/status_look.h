#pragma once

#include <cstdint>
#include <string_view>

namespace zuvo {

// How a status text of the main window is drawn: the transmitting and receiving radio in
// the radio's colour, a radio that a front-panel switch inhibits in grey, PTT and Tune lit
// while on. Every front end draws the same looks in the same colours.
enum class StatusLook { kPlain, kRadio1, kRadio2, kInhibit, kPttOn, kTuneOn };

// The look of status text `id` while it shows `text`; kPlain for any other control.
StatusLook StatusLookOf(int id, std::string_view text);

struct Rgb {
    uint8_t r, g, b;
};
struct StatusColours {
    Rgb background;
    Rgb text;
};
// The colours of a look other than kPlain (which keeps the window's own).
StatusColours ColoursOf(StatusLook look);

// The status texts are drawn large and bold: this many points.
inline constexpr int kStatusTextPoints = 22;

}  // namespace zuvo
