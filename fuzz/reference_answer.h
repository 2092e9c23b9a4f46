#pragma once

#include <optional>

// What a provider should make of a body, as read by a fuzz target's own reference: whether
// the body fits the provider's answer shape, and the usable price it carries if any.
struct ReferenceAnswer {
    bool decodes = false;
    std::optional<double> price;
};
