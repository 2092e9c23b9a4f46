#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <string_view>

// Second in the failover order: Coinbase's spot price for BTC-USD, sent as decimal text
// together with the currency it is quoted in.
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

    explicit CoinbaseProvider(RequestOptions options = {});

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    static std::expected<double, PriceError> validate(const Response& response);

private:
    static inline const std::string providerName = "coinbase";
    static constexpr std::string_view url = "https://api.coinbase.com/v2/prices/BTC-USD/spot";

    RequestOptions options_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, CoinbaseProvider::Response::Payload& value);
void from_json(const nlohmann::json& json, CoinbaseProvider::Response& value);
