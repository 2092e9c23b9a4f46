#pragma once

#include "price/https_transfer.h"
#include "price/price_provider.h"

#include <nlohmann/json_fwd.hpp>

#include <cstdint>
#include <optional>
#include <string_view>

// First in the failover order: mempool.space's price list.
class MempoolSpaceProvider final : public PriceProvider {
public:
    struct Response {
        std::optional<std::int64_t> time; // decoded, never used
        std::optional<double> USD;
    };

    explicit MempoolSpaceProvider(RequestOptions options = {});

    const std::string& name() const override;
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override;

    static std::expected<double, PriceError> validate(const Response& response);

private:
    static inline const std::string providerName = "mempool.space";
    static constexpr std::string_view url = "https://mempool.space/api/v1/prices";

    RequestOptions options_;
};

// Decoding of the answer; throws with a readable description when it does not fit.
void from_json(const nlohmann::json& json, MempoolSpaceProvider::Response& value);
