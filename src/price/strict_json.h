#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Reads a price that a service sent as text ("65000.12", "6.5e4") by the rules of strtod
// in the POSIX locale, whatever the process locale: an optional sign, digits with an
// optional fraction after a period and an optional exponent, or a hexadecimal constant,
// or an infinity or NaN word. Leading white space is refused rather than skipped, and the
// whole text must be taken up. No number for anything else.
std::optional<double> parseDecimalPrice(std::string_view text);

// Reading a service's JSON answer strictly. Every function throws a std::exception whose
// text is a readable one-line description (nlohmann's, with the member path) when the
// answer does not have the expected shape; the caller turns that into a decode error.
class StrictJson {
public:
    static constexpr int maxDepth = 64;

    // One JSON value taking up the whole text, nested at most `maxDepth` levels. Linear in
    // the text whatever its shape; the parser keeps its own stack, so deep input costs no
    // recursion.
    static nlohmann::json parse(std::string_view text);

    // The member `key` of `object`, which must be an object and hold a non-null `key`.
    static const nlohmann::json& required(const nlohmann::json& object, std::string_view key);
    // The member `key` of `object`, which must be an object; nullptr when `key` is absent
    // or null.
    static const nlohmann::json* optional(const nlohmann::json& object, std::string_view key);

    // A JSON number (true and false are not numbers here).
    static double number(const nlohmann::json& value);
    // A JSON number with an integral value that fits a signed 64-bit integer.
    static std::int64_t integer(const nlohmann::json& value);
    // A JSON string.
    static std::string text(const nlohmann::json& value);

    // Fails unless `value` is an object.
    static void requireObject(const nlohmann::json& value);
    // Fails unless `value` is an array.
    static void requireArray(const nlohmann::json& value);
};
