#pragma once

#include <optional>
#include <string_view>

// Reads a price that a service sent as text ("65000.12", "6.5e4") by the rules of strtod
// in the POSIX locale, whatever the process locale: an optional sign, digits with an
// optional fraction after a period and an optional exponent, or a hexadecimal constant,
// or an infinity or NaN word. Leading white space is refused rather than skipped, and the
// whole text must be taken up. No number for anything else.
std::optional<double> parseDecimalPrice(std::string_view text);
