// GCC 12 reports a false -Warray-bounds inside the standard library's map when it
// inlines nlohmann's callback parser with diagnostics on.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif

#include "strict_json.h"

#include <cmath>
#include <stdexcept>

using nlohmann::json;

namespace {

[[noreturn]] void wrongType(const json& value, const char* expected) {
    throw json::type_error::create(
        302, std::string("type must be ") + expected + ", but is " + value.type_name(), &value);
}

} // namespace

json StrictJson::parse(std::string_view text) {
    const json::parser_callback_t limitDepth = [](int depth, json::parse_event_t event, json&) {
        // `depth` counts the containers around the one that starts, so the outermost
        // container starts at depth 0.
        const bool opens =
            event == json::parse_event_t::object_start || event == json::parse_event_t::array_start;
        if (opens && depth >= maxDepth) {
            throw std::runtime_error("JSON nested deeper than " + std::to_string(maxDepth) +
                                     " levels");
        }
        return true;
    };
    return json::parse(text.begin(), text.end(), limitDepth);
}

void StrictJson::requireObject(const json& value) {
    if (!value.is_object()) {
        wrongType(value, "object");
    }
}

void StrictJson::requireArray(const json& value) {
    if (!value.is_array()) {
        wrongType(value, "array");
    }
}

const json& StrictJson::required(const json& object, const char* key) {
    requireObject(object);
    const json& member = object.at(key);
    if (member.is_null()) {
        throw json::type_error::create(302, std::string("member '") + key + "' is null", &member);
    }
    return member;
}

const json* StrictJson::optional(const json& object, const char* key) {
    requireObject(object);
    const auto found = object.find(key);
    return found == object.end() || found->is_null() ? nullptr : &*found;
}

double StrictJson::number(const json& value) {
    if (!value.is_number()) {
        wrongType(value, "number");
    }
    return value.get<double>();
}

std::int64_t StrictJson::integer(const json& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        return value.get<std::int64_t>();
    }
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue <= static_cast<std::uint64_t>(INT64_MAX)) {
            return static_cast<std::int64_t>(unsignedValue);
        }
    } else if (value.is_number_float()) {
        // 1.0 and 1e3 are integral; 1.5 is not. The bounds are exact powers of two.
        const double floating = value.get<double>();
        if (std::trunc(floating) == floating && floating >= -0x1p63 && floating < 0x1p63) {
            return static_cast<std::int64_t>(floating);
        }
    } else {
        wrongType(value, "number");
    }
    throw json::type_error::create(
        302, "number " + value.dump() + " is not an integer that fits 64 bits", &value);
}

std::string StrictJson::text(const json& value) {
    if (!value.is_string()) {
        wrongType(value, "string");
    }
    return value.get<std::string>();
}
