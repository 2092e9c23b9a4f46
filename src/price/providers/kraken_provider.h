#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <map>
#include <string_view>
#include <vector>

// Third in the failover order: Kraken's public ticker for XBTUSD, with its own error list,
// data keyed by pair name and prices as decimal text.
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

    explicit KrakenProvider(RequestOptions options = {});

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    static std::expected<double, PriceError> validate(const Response& response);

private:
    static inline const std::string providerName = "kraken";
    static constexpr std::string_view url = "https://api.kraken.com/0/public/Ticker?pair=XBTUSD";

    RequestOptions options_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, KrakenProvider::PairTicker& value);
void from_json(const nlohmann::json& json, KrakenProvider::Response& value);
