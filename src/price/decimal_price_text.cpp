#include "decimal_price_text.h"

#include <locale.h>
#include <stdlib.h>
#include <string>

namespace {

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
