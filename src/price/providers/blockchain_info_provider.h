#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <optional>
#include <string_view>

// Fourth in the failover order: blockchain.info's ticker, one quote per currency, of which
// only the US dollar's last price is read.
class BlockchainInfoProvider final : public PriceProvider {
public:
    struct CurrencyQuote {
        double last = 0;
    };
    struct Response {
        std::optional<CurrencyQuote> USD;
    };

    explicit BlockchainInfoProvider(RequestOptions options = {});

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    static std::expected<double, PriceError> validate(const Response& response);

private:
    static inline const std::string providerName = "blockchain.info";
    static constexpr std::string_view url = "https://blockchain.info/ticker";

    RequestOptions options_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, BlockchainInfoProvider::CurrencyQuote& value);
void from_json(const nlohmann::json& json, BlockchainInfoProvider::Response& value);
