#pragma once

#include <nlohmann/json.hpp>

#include <cmath>
#include <optional>

// What a provider should make of a body, as read by a fuzz target's own reference: whether
// the body fits the provider's answer shape, and the usable price it carries if any.
struct ReferenceAnswer {
    bool decodes = false;
    std::optional<double> price;

    // A body whose price member, `number`, is the last thing left to check (nullptr when
    // the member is absent or null): it fits the shape unless the member is not a number,
    // and carries a price when the number is finite and above zero.
    static ReferenceAnswer withPriceNumber(const nlohmann::json* number) {
        if (number && !number->is_number()) {
            return {};
        }
        ReferenceAnswer answer{.decodes = true, .price = {}};
        if (number) {
            const double value = number->get<double>();
            if (std::isfinite(value) && value > 0) {
                answer.price = value;
            }
        }
        return answer;
    }
};
