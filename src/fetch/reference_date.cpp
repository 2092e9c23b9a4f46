#include "reference_date.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <ratio>
#include <type_traits>

namespace {

// A nanosecond count times a 53-bit significand needs more than 64 bits; every product
// below stays under 2^90.
__extension__ using Int128 = __int128;

static_assert(std::is_same_v<ReferenceDate::TimePoint::period, std::nano> &&
                  sizeof(ReferenceDate::TimePoint::rep) == 8,
              "time points are assumed to count nanoseconds in 64 bits");

constexpr std::int64_t nanosPerSecond = 1'000'000'000;
constexpr Int128 referenceNanos = Int128{ReferenceDate::unixSeconds} * nanosPerSecond;

// Seconds beyond this lie far outside the time points' range (about 9.2e9 s either way).
constexpr double secondsBound = 1e11;

// value == significand * 2^exponent, exactly.
struct Binary {
    Int128 significand;
    int exponent;
};

Binary decompose(double value) {
    int exponent = 0;
    const double fraction = std::frexp(value, &exponent);
    return {static_cast<Int128>(std::ldexp(fraction, 53)), exponent - 53};
}

Int128 magnitude(Int128 value) {
    return value < 0 ? -value : value;
}

// Whether `candidate` seconds lie strictly nearer to `nanos` nanoseconds than `best`,
// compared exactly. Both are nonzero and below `secondsBound` in magnitude, so their
// exponents are negative.
bool nearer(double candidate, double best, Int128 nanos) {
    const Binary a = decompose(candidate);
    const Binary b = decompose(best);
    const int common = std::min(a.exponent, b.exponent);
    const Int128 target = nanos * (Int128{1} << -common);
    const Int128 aScaled = a.significand * nanosPerSecond * (Int128{1} << (a.exponent - common));
    const Int128 bScaled = b.significand * nanosPerSecond * (Int128{1} << (b.exponent - common));
    return magnitude(aScaled - target) < magnitude(bScaled - target);
}

} // namespace

double ReferenceDate::secondsSince(TimePoint time) {
    const Int128 nanos = Int128{time.time_since_epoch().count()} - referenceNanos;
    if (nanos == 0) {
        return 0.0;
    }
    // Whole seconds convert exactly and the fraction rounds once, so the sum is within one
    // unit in the last place; the neighbours settle the last bit.
    const auto wholeSeconds = static_cast<std::int64_t>(nanos / nanosPerSecond);
    const auto restNanos = static_cast<std::int64_t>(nanos % nanosPerSecond);
    double best = static_cast<double>(wholeSeconds) +
                  static_cast<double>(restNanos) / static_cast<double>(nanosPerSecond);
    const double start = best;
    for (const double direction : {-1.0, 1.0}) {
        double candidate = start;
        for (int step = 0; step < 2; ++step) {
            candidate = std::nextafter(candidate, direction * secondsBound);
            if (candidate != 0 && nearer(candidate, best, nanos)) {
                best = candidate;
            }
        }
    }
    return best;
}

std::optional<ReferenceDate::TimePoint> ReferenceDate::timePoint(double seconds) {
    if (!std::isfinite(seconds) || std::fabs(seconds) > secondsBound) {
        return std::nullopt;
    }
    Int128 nanos = 0;
    const Binary binary = decompose(seconds);
    // seconds * 1e9 == product * 2^exponent, with a negative exponent inside the bound.
    const Int128 product = binary.significand * nanosPerSecond;
    const int shift = -binary.exponent;
    if (seconds != 0 && shift < 120) { // beyond, |seconds| is far below half a nanosecond
        const Int128 divisor = Int128{1} << shift;
        Int128 quotient = product / divisor;
        Int128 remainder = product % divisor;
        if (remainder < 0) { // division truncates; make it floor
            remainder += divisor;
            quotient -= 1;
        }
        const Int128 twice = remainder * 2;
        if (twice > divisor || (twice == divisor && quotient % 2 != 0)) {
            quotient += 1;
        }
        nanos = quotient;
    }
    const Int128 sinceEpoch = nanos + referenceNanos;
    if (sinceEpoch < std::numeric_limits<TimePoint::rep>::min() ||
        sinceEpoch > std::numeric_limits<TimePoint::rep>::max()) {
        return std::nullopt;
    }
    return TimePoint{TimePoint::duration{static_cast<TimePoint::rep>(sinceEpoch)}};
}
