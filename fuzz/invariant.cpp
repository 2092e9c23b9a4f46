#include "invariant.h"

#include <cstdio>
#include <cstdlib>

void Invariant::require(bool holds, std::string_view what, std::string_view input) {
    if (holds) {
        return;
    }
    const std::string shown = escaped(input);
    std::fprintf(stderr, "invariant broken: %.*s\ninput (%zu bytes): %s\n",
                 static_cast<int>(what.size()), what.data(), input.size(), shown.c_str());
    std::abort();
}

std::string Invariant::escaped(std::string_view text) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x20 && byte < 0x7f && c != '\\') {
            out += c;
        } else {
            out += "\\x";
            out += digits[byte >> 4];
            out += digits[byte & 0xf];
        }
    }
    return out;
}
