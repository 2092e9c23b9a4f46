#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string_view>

// Fourth in the failover order: blockchain.info's ticker, one quote per currency code, of
// which only the chosen currency's last price is read.
class BlockchainInfoProvider final : public PriceProvider {
public:
    struct CurrencyQuote {
        double last = 0;
    };
    struct Response {
        std::optional<CurrencyQuote> quote; // the member named by the currency's code
    };

    explicit BlockchainInfoProvider(RequestOptions options = {},
                                    Currency currency = Currency::usd());

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    // Throws with a readable description when the answer does not fit.
    Response read(const nlohmann::json& json) const;
    std::expected<double, PriceError> validate(const Response& response) const;

private:
    static inline const std::string providerName = "blockchain.info";
    static constexpr std::string_view url = "https://blockchain.info/ticker";

    RequestOptions options_;
    Currency currency_;
};
