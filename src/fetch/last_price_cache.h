#pragma once

#include "fetch/settings_file.h"
#include "price/price_provider.h"

#include <QByteArray>

#include <chrono>
#include <optional>

// Instants as seconds since 2001-01-01 00:00:00 UTC in a double, the form a stored
// timestamp takes. Both directions round to the nearest value, so a double that came from
// a time point turns back into the same double.
class ReferenceDate {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    // 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
    static constexpr long long unixSeconds = 978'307'200;

    // The double nearest to the exact number of seconds from the reference date to `time`.
    static double secondsSince(TimePoint time);

    // The time point nearest to `seconds` after the reference date (a tie goes to the even
    // nanosecond); nullopt when `seconds` is not finite or the instant lies outside what a
    // time point can hold (about the years 1678 to 2262).
    static std::optional<TimePoint> timePoint(double seconds);
};

// The last good price, kept in the settings file across starts so that a new start shows
// it before any service has answered. The record is one compact JSON object,
// {"usd":67250.5,"timestamp":757382400,"source":"coinbase"}, with the timestamp in seconds
// since 2001-01-01 00:00:00 UTC, stored as a byte string. Each currency has a record of
// its own, in the same form ("usd" holds the price in that currency): US dollars under
// "BrimwellTicker.LastPrice", the others under "BrimwellTicker.LastPrice.EUR" and so on.
class LastPriceCache {
public:
    static constexpr const char* key = "BrimwellTicker.LastPrice";
    // A record is about 70 bytes; anything much longer is not one, and is not parsed.
    static constexpr qsizetype maxRecordBytes = 4096;

    explicit LastPriceCache(SettingsFile settings, Currency currency = Currency::usd());

    // The key of `currency`'s record.
    static QString keyFor(const Currency& currency);

    // The stored record, or nullopt when there is none or it does not decode.
    std::optional<BitcoinPrice> restore() const;

    // Writes the record; a failure (encoding or writing) is silent and leaves the previous
    // record in place.
    void store(const BitcoinPrice& price);

    // nullopt when the record cannot be written as JSON: a non-finite usd, or a source
    // that is not UTF-8.
    static std::optional<QByteArray> encode(const BitcoinPrice& price);

    // Members in any order, others ignored; "usd" and "timestamp" must be finite JSON
    // numbers and "source" a string; at most `maxRecordBytes`. Values are taken as stored (a zero
    // or negative usd too), but a timestamp outside what a time point can hold does not decode.
    static std::optional<BitcoinPrice> decode(const QByteArray& bytes);

private:
    SettingsFile settings_;
    QString key_;
};
