#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string_view>

// Last in the failover order: CoinGecko's simple price of bitcoin in US dollars.
class CoinGeckoProvider final : public PriceProvider {
public:
    struct CoinQuote {
        double usd = 0;
    };
    struct Response {
        std::optional<CoinQuote> bitcoin;
    };

    explicit CoinGeckoProvider(RequestOptions options = {});

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    static std::expected<double, PriceError> validate(const Response& response);

private:
    static inline const std::string providerName = "coingecko";
    static constexpr std::string_view url =
        "https://api.coingecko.com/api/v3/simple/price?ids=bitcoin&vs_currencies=usd";

    RequestOptions options_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, CoinGeckoProvider::CoinQuote& value);
void from_json(const nlohmann::json& json, CoinGeckoProvider::Response& value);
