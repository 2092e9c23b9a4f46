#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string>

// Last in the failover order: CoinGecko's simple price of bitcoin in US dollars (or the
// chosen currency, which it names in lower case).
class CoinGeckoProvider final : public PriceProvider {
public:
    struct CoinQuote {
        double price = 0; // the member named by the currency's lower-case code
    };
    struct Response {
        std::optional<CoinQuote> bitcoin;
    };

    explicit CoinGeckoProvider(RequestOptions options = {}, Currency currency = Currency::usd());

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    // Throws with a readable description when the answer does not fit.
    Response read(const nlohmann::json& json) const;
    std::expected<double, PriceError> validate(const Response& response) const;

private:
    static inline const std::string providerName = "coingecko";

    RequestOptions options_;
    Currency currency_;
    std::string url_;
};
