#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <string>

// Second in the failover order: Coinbase's spot price for BTC-USD (or the product of the
// chosen currency), sent as decimal text together with the currency it is quoted in.
class CoinbaseProvider final : public PriceProvider {
public:
    struct Response {
        struct Payload {
            std::string amount;
            std::string base; // decoded, never examined
            std::string currency;
        };
        Payload data;
    };

    explicit CoinbaseProvider(RequestOptions options = {}, Currency currency = Currency::usd());

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    // Throws with a readable description when the answer does not fit.
    Response read(const nlohmann::json& json) const;
    // The answer must be quoted in the currency asked for.
    std::expected<double, PriceError> validate(const Response& response) const;

private:
    static inline const std::string providerName = "coinbase";

    RequestOptions options_;
    Currency currency_;
    std::string url_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, CoinbaseProvider::Response::Payload& value);
void from_json(const nlohmann::json& json, CoinbaseProvider::Response& value);
