#include "truncated_dollar_digits.h"

#include <cmath>
#include <cstdint>
#include <limits>

QString truncatedDollarDigits(double usd) {
    using Limits = std::numeric_limits<std::int64_t>;
    // -2^63 and 2^63 are exact doubles; every double strictly between them truncates to a
    // representable integer.
    constexpr double twoToThe63 = 9223372036854775808.0;
    std::int64_t whole = 0;
    if (std::isnan(usd)) {
        whole = 0;
    } else if (usd >= twoToThe63) {
        whole = Limits::max();
    } else if (usd <= -twoToThe63) {
        whole = Limits::min();
    } else {
        whole = static_cast<std::int64_t>(usd);
    }
    return QString::number(whole);
}
