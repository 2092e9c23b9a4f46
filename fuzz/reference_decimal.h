#pragma once

#include <optional>
#include <string_view>

// What strtod in the POSIX locale makes of a whole text, worked out along a road of its
// own: the sign and a "0x" prefix are taken here, the rest is read by std::from_chars,
// whose decimal and hexadecimal readers share no code with the C library's.
class ReferenceDecimal {
public:
    enum class Kind {
        none,      // not a number that takes up the whole text
        value,     // `value` holds the number
        overflow,  // beyond the largest double: strtod gives an infinity
        underflow, // below the smallest double: strtod gives a zero
    };
    struct Reading {
        Kind kind = Kind::none;
        double value = 0;
        bool negative = false;
    };

    static Reading read(std::string_view text);

    // Whether `actual` is the number the reading stands for: the same bits, any NaN for a
    // NaN of the same sign, an infinity or zero of the right sign outside the range.
    static bool agrees(const Reading& reading, std::optional<double> actual);

    // The number a provider may take from the text: finite and above zero, or none.
    static std::optional<double> usablePrice(std::string_view text);
};
