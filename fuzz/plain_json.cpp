#include "plain_json.h"

#include "price/strict_json.h"

#include <cmath>

std::optional<nlohmann::json> PlainJson::parse(std::string_view text) {
    if (deepestNesting(text) > static_cast<std::size_t>(StrictJson::maxDepth)) {
        return std::nullopt;
    }
    auto value = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

std::size_t PlainJson::deepestNesting(std::string_view text) {
    std::size_t depth = 0;
    std::size_t deepest = 0;
    bool inString = false;
    bool escaped = false;
    for (const char c : text) {
        if (inString) {
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            deepest = std::max(deepest, ++depth);
        } else if ((c == ']' || c == '}') && depth > 0) {
            --depth;
        }
    }
    return deepest;
}

const nlohmann::json* PlainJson::member(const nlohmann::json& object, const char* key) {
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

bool PlainJson::isInteger64(const nlohmann::json& value) {
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>() <= static_cast<std::uint64_t>(INT64_MAX);
    }
    if (value.is_number_integer()) {
        return true;
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        return std::trunc(number) == number && number >= -0x1p63 && number < 0x1p63;
    }
    return false;
}
