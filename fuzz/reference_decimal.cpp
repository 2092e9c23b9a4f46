#include "reference_decimal.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <system_error>

namespace {

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Whether the binary exponent of a hexadecimal text, if it has one, is an optional sign
// and digits. libstdc++ 12's hexadecimal from_chars also takes "p+-1" as 2^-1, where
// strtod stops before the "p".
bool hasWellFormedBinaryExponent(std::string_view hexDigits) {
    const std::size_t marker = hexDigits.find_first_of("pP");
    if (marker == std::string_view::npos) {
        return true;
    }
    std::string_view exponent = hexDigits.substr(marker + 1);
    if (!exponent.empty() && (exponent.front() == '+' || exponent.front() == '-')) {
        exponent.remove_prefix(1);
    }
    return !exponent.empty() && exponent.find_first_not_of("0123456789") == std::string_view::npos;
}

// For a text that from_chars found out of range, which end of the range it lies beyond:
// the place of its first significant digit plus its exponent is far above zero for a
// number too large and far below zero for one too small.
bool aboveRange(std::string_view number, bool hex) {
    const std::size_t marker = number.find_first_of(hex ? "pP" : "eE");
    const std::string_view mantissa = number.substr(0, marker);
    long long exponent = 0;
    if (marker != std::string_view::npos) {
        std::string_view digits = number.substr(marker + 1);
        bool negative = false;
        if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) {
            negative = digits.front() == '-';
            digits.remove_prefix(1);
        }
        for (const char c : digits) {
            // Saturates long before overflow; any exponent this large is out of range.
            exponent = std::min(exponent * 10 + (c - '0'), 1'000'000'000'000LL);
        }
        exponent = negative ? -exponent : exponent;
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t first = mantissa.find_first_not_of("0.");
    const long long place = first < point ? static_cast<long long>(point - first - 1)
                                          : -static_cast<long long>(first - point);
    return (hex ? 4 * place : place) + exponent >= 0;
}

} // namespace

ReferenceDecimal::Reading ReferenceDecimal::read(std::string_view text) {
    Reading reading;
    std::string_view rest = text;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        reading.negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    // from_chars takes a minus sign of its own, which strtod would not accept here.
    if (rest.empty() || rest.front() == '+' || rest.front() == '-') {
        return {};
    }
    auto format = std::chars_format::general;
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) {
        rest.remove_prefix(2);
        // strtod reads "0x" followed by anything else as the number 0 and stops before
        // the "x"; from_chars would read an infinity or NaN word after it.
        if (rest.empty() || !(isHexDigit(rest.front()) || rest.front() == '.') ||
            !hasWellFormedBinaryExponent(rest)) {
            return {};
        }
        format = std::chars_format::hex;
    }
    double value = 0;
    const char* const end = rest.data() + rest.size();
    const auto [stop, error] = std::from_chars(rest.data(), end, value, format);
    if (stop != end) {
        return {};
    }
    if (error == std::errc::result_out_of_range) {
        reading.kind =
            aboveRange(rest, format == std::chars_format::hex) ? Kind::overflow : Kind::underflow;
        return reading;
    }
    if (error != std::errc{}) {
        return {};
    }
    reading.kind = Kind::value;
    reading.value = reading.negative ? -value : value;
    return reading;
}

bool ReferenceDecimal::agrees(const Reading& reading, std::optional<double> actual) {
    switch (reading.kind) {
    case Kind::none:
        return !actual;
    case Kind::value:
        if (!actual) {
            return false;
        }
        if (std::isnan(reading.value)) {
            return std::isnan(*actual) && std::signbit(*actual) == std::signbit(reading.value);
        }
        return std::bit_cast<std::uint64_t>(*actual) == std::bit_cast<std::uint64_t>(reading.value);
    case Kind::overflow:
        return actual && std::isinf(*actual) && std::signbit(*actual) == reading.negative;
    case Kind::underflow:
        return actual && *actual == 0 && std::signbit(*actual) == reading.negative;
    }
    return false;
}

std::optional<double> ReferenceDecimal::usablePrice(std::string_view text) {
    const Reading reading = read(text);
    if (reading.kind == Kind::value && reading.value > 0 &&
        reading.value < std::numeric_limits<double>::infinity()) {
        return reading.value;
    }
    return std::nullopt;
}
