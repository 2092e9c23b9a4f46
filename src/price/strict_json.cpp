// GCC 12 reports a false -Warray-bounds inside the standard library's map when it inlines
// nlohmann's parser with diagnostics on.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ == 12
#pragma GCC diagnostic ignored "-Warray-bounds"
#endif

#include "strict_json.h"

#include <cmath>
#include <locale.h>
#include <stdexcept>
#include <stdlib.h>

using nlohmann::json;

namespace {

[[noreturn]] void wrongType(const json& value, const char* expected) {
    throw json::type_error::create(
        302, std::string("type must be ") + expected + ", but is " + value.type_name(), &value);
}

// Whether the containers of `text` nest deeper than `limit`, counting brackets outside
// strings only. A parse callback could say the same, but nlohmann's callback parser takes
// time quadratic in the number of containers; this is one pass over the text.
bool nestedDeeperThan(std::string_view text, int limit) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') {
                ++i; // the escaped character cannot end the string
            } else if (c == '"') {
                inString = false;
            }
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > limit) {
                return true;
            }
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return false;
}

locale_t posixLocale() {
    // Built once and never freed: it lives as long as the process.
    static const locale_t locale = newlocale(LC_ALL_MASK, "POSIX", locale_t{});
    return locale;
}

bool isLeadingSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

std::optional<double> parseDecimalPrice(std::string_view text) {
    if (text.empty() || isLeadingSpace(text.front())) {
        return std::nullopt;
    }
    // strtod needs a terminated string; an embedded NUL then stops the reading early and
    // the whole-text check refuses it.
    const std::string terminated(text);
    char* end = nullptr;
    const double value = strtod_l(terminated.c_str(), &end, posixLocale());
    if (end != terminated.c_str() + terminated.size()) {
        return std::nullopt;
    }
    return value;
}

json StrictJson::parse(std::string_view text) {
    if (nestedDeeperThan(text, maxDepth)) {
        throw std::runtime_error("JSON nested deeper than " + std::to_string(maxDepth) + " levels");
    }
    return json::parse(text.begin(), text.end());
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

const json& StrictJson::required(const json& object, std::string_view key) {
    requireObject(object);
    const json& member = object.at(key);
    if (member.is_null()) {
        throw json::type_error::create(302, "member '" + std::string(key) + "' is null", &member);
    }
    return member;
}

const json* StrictJson::optional(const json& object, std::string_view key) {
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
