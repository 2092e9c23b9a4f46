#pragma once

#include <chrono>
#include <limits>
#include <string>

// One quote: the price of one bitcoin in US dollars, when it was accepted and who gave it.
struct BitcoinPrice {
    using Clock = std::chrono::system_clock;

    double usd = 0;
    // When the provider accepted the quote, read from the local clock; never a time the
    // service reported.
    Clock::time_point timestamp;
    std::string source;

    bool operator==(const BitcoinPrice&) const = default;
};

// Whether a provider may put this value in a record: finite and strictly greater than zero
// (so not zero, negative, NaN or infinite).
inline bool isUsablePrice(double usd) {
    return usd > 0 && usd < std::numeric_limits<double>::infinity();
}
