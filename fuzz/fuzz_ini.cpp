// Checks that any bytes parse as an INI document, that lookups and a write on it never crash,
// that an untouched document serialises back to the same bytes, and that a written key
// reads back.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ini_document.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    zuvo::platform::IniDocument doc(text);
    if (doc.Serialize() != text) {
        std::abort();
    }
    // Names taken from the input itself reach sections and keys the input really has.
    const size_t cut = size / 3;
    const std::string_view section = text.substr(0, cut % 17);
    const std::string_view key = text.substr(cut, cut % 13);
    (void)doc.Get(section, key);
    (void)doc.Get("Keyer", "Port");
    char buf[10];
    (void)zuvo::platform::ProfileGetString(std::string(text), "Box", "Verbose", "FALSE", buf,
                                           sizeof buf);
    if (doc.Set(section, key, text.substr(size / 2, 40))) {
        const std::string written = doc.Serialize();
        if (!zuvo::platform::IniDocument(written).Get(section, key)) {
            std::abort();
        }
    }
    if (doc.Set("Keyer", "Port", "-1") &&
        zuvo::platform::IniDocument(doc.Serialize()).Get("keyer", "port") != "-1") {
        std::abort();
    }
    return 0;
}
