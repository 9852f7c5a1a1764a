// libFuzzer target for the Intel HEX reader: any bytes, no crash, no access outside the
// image, and an accepted file always lies inside the firmware area.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "utility/hex_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const zuvo::HexImage r = zuvo::ReadHexText(text, size % 2 == 1);
    if (r.image.size() != zuvo::kImageSize) {
        std::abort();
    }
    if (r.ok) {
        const bool inside = r.lowest >= zuvo::kBootLoaderEnd && r.highest <= zuvo::kFlashLimit &&
                            r.lowest < r.highest && r.lowest % 64 == 0 && r.highest % 64 == 0;
        if (!inside || r.lines.size() > 1) {
            std::abort();
        }
    }
    return 0;
}
