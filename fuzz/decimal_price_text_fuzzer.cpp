// Any text a service may send as a price, read under a locale whose decimal separator is a
// comma, so that a reading that followed the process locale fails the round trip below.

#include "check.h"
#include "price/strict_json.h"

#include <bit>
#include <charconv>
#include <clocale>
#include <cmath>
#include <optional>

static bool sameBits(std::optional<double> a, std::optional<double> b) {
    return a.has_value() == b.has_value() &&
           (!a || std::bit_cast<std::uint64_t>(*a) == std::bit_cast<std::uint64_t>(*b));
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    require(std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr, // scripts/install-deps makes it
            "the de_DE.UTF-8 locale is not installed");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto value = parseDecimalPrice(text);
    require(sameBits(value, parseDecimalPrice(text)), "two readings of one text differ");
    const bool refused = text.empty() || std::string_view(" \t\n\v\f\r").contains(text.front()) ||
                         text.contains('\0');
    require(!refused || !value, "an empty text, white space first or a NUL gave a number");
    if (!value) {
        return 0;
    }
    // The shortest text that std::to_chars writes ("inf" and "nan" included) must read back.
    char written[64];
    const auto end = std::to_chars(written, written + sizeof written, *value).ptr;
    const auto again = parseDecimalPrice(std::string_view(written, end));
    require(std::isnan(*value) ? again && std::isnan(*again) : sameBits(value, again),
            "a number written with std::to_chars reads back as another");
    return 0;
}
