#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

// Reading a service's JSON answer strictly. Every function throws a std::exception whose
// text is a readable one-line description (nlohmann's, with the member path) when the
// answer does not have the expected shape; the caller turns that into a decode error.
class StrictJson {
public:
    static constexpr int maxDepth = 64;

    // One JSON value taking up the whole text, nested at most `maxDepth` levels. The
    // parser keeps its own stack, so deep input costs no recursion.
    static nlohmann::json parse(std::string_view text);

    // The member `key` of `object`, which must be an object and hold a non-null `key`.
    static const nlohmann::json& required(const nlohmann::json& object, const char* key);
    // The member `key` of `object`, which must be an object; nullptr when `key` is absent
    // or null.
    static const nlohmann::json* optional(const nlohmann::json& object, const char* key);

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
