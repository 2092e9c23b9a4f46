#include "last_price_cache.h"

#include "price/strict_json.h"

#include <QString>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <exception>
#include <limits>
#include <ratio>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

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

namespace {

// An integral value is written without a fraction ("757382400", not "757382400.0"); it
// reads back as the same double. Beyond 2^53, and for -0, the double form keeps it exact.
nlohmann::ordered_json number(double value) {
    constexpr double exactIntegers = 9007199254740992.0; // 2^53
    if (std::trunc(value) == value && std::fabs(value) <= exactIntegers &&
        !(value == 0 && std::signbit(value))) {
        return static_cast<std::int64_t>(value);
    }
    return value;
}

} // namespace

LastPriceCache::LastPriceCache(SettingsFile settings, Currency currency)
    : settings_(std::move(settings)), key_(keyFor(currency)) {}

QString LastPriceCache::keyFor(const Currency& currency) {
    const QString usd = QString::fromLatin1(key);
    return currency == Currency::usd()
               ? usd
               : usd + QLatin1Char('.') + QString::fromLatin1(currency.code);
}

std::optional<BitcoinPrice> LastPriceCache::restore() const {
    const auto bytes = settings_.readData(key_);
    if (!bytes) {
        return std::nullopt;
    }
    return decode(*bytes);
}

void LastPriceCache::store(const BitcoinPrice& price) {
    if (const auto bytes = encode(price)) {
        [[maybe_unused]] const bool stored = settings_.writeData(key_, *bytes);
    }
}

std::optional<QByteArray> LastPriceCache::encode(const BitcoinPrice& price) {
    const double timestamp = ReferenceDate::secondsSince(price.timestamp);
    if (!std::isfinite(price.usd) || !std::isfinite(timestamp)) {
        return std::nullopt;
    }
    nlohmann::ordered_json record;
    record["usd"] = number(price.usd);
    record["timestamp"] = number(timestamp);
    record["source"] = price.source;
    try {
        const std::string text = record.dump(); // compact; throws on a source that is not UTF-8
        return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<BitcoinPrice> LastPriceCache::decode(const QByteArray& bytes) {
    if (bytes.size() > maxRecordBytes) {
        return std::nullopt;
    }
    try {
        const auto record = StrictJson::parse(
            std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
        BitcoinPrice price;
        price.usd = StrictJson::number(StrictJson::required(record, "usd"));
        const double seconds = StrictJson::number(StrictJson::required(record, "timestamp"));
        price.source = StrictJson::text(StrictJson::required(record, "source"));
        // A number too large for a double reads as infinite.
        if (!std::isfinite(price.usd)) {
            return std::nullopt;
        }
        const auto timestamp = ReferenceDate::timePoint(seconds);
        if (!timestamp) {
            return std::nullopt;
        }
        price.timestamp = *timestamp;
        return price;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}
