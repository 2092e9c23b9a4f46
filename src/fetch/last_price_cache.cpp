#include "last_price_cache.h"

#include "fetch/reference_date.h"
#include "price/strict_json.h"

#include <QString>
#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <utility>

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

LastPriceCache::LastPriceCache(SettingsFile settings) : settings_(std::move(settings)) {}

std::optional<BitcoinPrice> LastPriceCache::restore() const {
    const auto bytes = settings_.readData(QString::fromLatin1(key));
    if (!bytes) {
        return std::nullopt;
    }
    return decode(*bytes);
}

void LastPriceCache::store(const BitcoinPrice& price) {
    if (const auto bytes = encode(price)) {
        [[maybe_unused]] const bool stored = settings_.writeData(QString::fromLatin1(key), *bytes);
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
