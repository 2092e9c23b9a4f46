#pragma once

#include <QString>

// The dollar value truncated toward zero to a signed 64-bit integer, in plain ASCII digits
// with no grouping: the price text when the locale's formatting has none to give.
// Outside the 64-bit range the value saturates: anything at or beyond 2^63 (and +infinity)
// gives 9223372036854775807, anything below -2^63 (and -infinity) gives
// -9223372036854775808, and NaN gives 0. A plain cast would be undefined there.
QString truncatedDollarDigits(double usd);
