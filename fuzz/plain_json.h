#pragma once

#include <nlohmann/json.hpp>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

// A second reading of a JSON text, without the program's strict reader: the parser with
// exceptions off, nesting counted on the raw text, and member types checked by hand. The
// fuzz targets hold what the program decodes against it.
class PlainJson {
public:
    // The value, or nullopt when the text is not one JSON value or is nested deeper than
    // the program accepts.
    static std::optional<nlohmann::json> parse(std::string_view text);

    // The deepest nesting of arrays and objects in `text`, counted outside strings.
    static std::size_t deepestNesting(std::string_view text);

    // The member `key` of an object, or nullptr when it is absent or null.
    static const nlohmann::json* member(const nlohmann::json& object, const char* key);

    // A number with an integral value that a signed 64-bit integer holds.
    static bool isInteger64(const nlohmann::json& value);
};
