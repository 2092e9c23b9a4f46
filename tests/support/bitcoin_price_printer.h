#pragma once

#include "price/price_provider.h"

#include <iomanip>
#include <limits>
#include <ostream>

// How failed expectations show a record: every digit of the price and the nanoseconds.
inline void PrintTo(const BitcoinPrice& price, std::ostream* out) {
    *out << "{usd " << std::setprecision(std::numeric_limits<double>::max_digits10) << price.usd
         << ", timestamp " << price.timestamp.time_since_epoch().count() << " ns, source \""
         << price.source << "\"}";
}
