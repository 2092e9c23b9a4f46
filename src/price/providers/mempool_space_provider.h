#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

// First in the failover order: mempool.space's price list, one member per currency code.
class MempoolSpaceProvider final : public PriceProvider {
public:
    struct Response {
        std::optional<std::int64_t> time; // decoded, never used
        std::optional<double> price;      // the member named by the currency's code
    };

    explicit MempoolSpaceProvider(RequestOptions options = {}, Currency currency = Currency::usd());

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    // Throws with a readable description when the answer does not fit.
    Response read(const nlohmann::json& json) const;
    std::expected<double, PriceError> validate(const Response& response) const;

private:
    static inline const std::string providerName = "mempool.space";
    static constexpr std::string_view url = "https://mempool.space/api/v1/prices";

    RequestOptions options_;
    Currency currency_;
};
