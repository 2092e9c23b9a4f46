#pragma once

#include "fetch/settings_file.h"
#include "price/bitcoin_price.h"

#include <QByteArray>

#include <optional>

// The last good price, kept in the settings file across starts so that a new start shows
// it before any service has answered. The record is one compact JSON object,
// {"usd":67250.5,"timestamp":757382400,"source":"coinbase"}, with the timestamp in seconds
// since 2001-01-01 00:00:00 UTC, stored as a byte string.
class LastPriceCache {
public:
    static constexpr const char* key = "BrimwellTicker.LastPrice";

    explicit LastPriceCache(SettingsFile settings);

    // The stored record, or nullopt when there is none or it does not decode.
    std::optional<BitcoinPrice> restore() const;

    // Writes the record; a failure (encoding or writing) is silent and leaves the previous
    // record in place.
    void store(const BitcoinPrice& price);

    // nullopt when the record cannot be written as JSON: a non-finite usd, or a source
    // that is not UTF-8.
    static std::optional<QByteArray> encode(const BitcoinPrice& price);

    // Members in any order, others ignored; "usd" and "timestamp" must be finite JSON
    // numbers and "source" a string. Values are taken as stored (a zero or negative usd
    // too), but a timestamp outside what a time point can hold does not decode.
    static std::optional<BitcoinPrice> decode(const QByteArray& bytes);

private:
    SettingsFile settings_;
};
