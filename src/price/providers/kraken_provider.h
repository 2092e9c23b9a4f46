#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <map>
#include <string>
#include <vector>

// Third in the failover order: Kraken's public ticker for XBTUSD (or the pair of the chosen
// currency), with its own error list, data keyed by pair name and prices as decimal text.
class KrakenProvider final : public PriceProvider {
public:
    struct PairTicker {
        // The last trade: its price as decimal text first, then fields that are not read.
        std::vector<std::string> c;
    };
    struct Response {
        std::vector<std::string> error;
        // Sorted by pair name, byte by byte.
        std::map<std::string, PairTicker> result;
    };

    explicit KrakenProvider(RequestOptions options = {}, Currency currency = Currency::usd());

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    // Throws with a readable description when the answer does not fit.
    Response read(const nlohmann::json& json) const;
    // For US dollars the pair whose name sorts first, whatever its name; for another
    // currency the one under the name Kraken's answers give the pair ("XXBTZEUR"), or
    // under the name it was asked by ("XBTEUR").
    std::expected<double, PriceError> validate(const Response& response) const;

private:
    static inline const std::string providerName = "kraken";

    RequestOptions options_;
    Currency currency_;
    std::string url_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, KrakenProvider::PairTicker& value);
void from_json(const nlohmann::json& json, KrakenProvider::Response& value);
