#include "currency.h"

std::optional<Currency> Currency::fromCode(std::string_view code) {
    for (const Currency& currency : currencies) {
        if (currency.code == code) {
            return currency;
        }
    }
    return std::nullopt;
}

std::string Currency::codeList() {
    std::string list;
    for (std::size_t i = 0; i < currencies.size(); ++i) {
        list += i == 0 ? "" : i + 1 == currencies.size() ? " or " : ", ";
        list += currencies[i].code;
    }
    return list;
}
