#include "mempool_space_provider.h"

#include "price/provider_pipeline.h"

void from_json(const nlohmann::json& json, MempoolSpaceProvider::Response& response) {
    if (const auto* time = StrictJson::optional(json, "time")) {
        response.time = StrictJson::integer(*time);
    }
    if (const auto* usd = StrictJson::optional(json, "USD")) {
        response.USD = StrictJson::number(*usd);
    }
}

MempoolSpaceProvider::MempoolSpaceProvider(RequestOptions options) : options_(std::move(options)) {}

const std::string& MempoolSpaceProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> MempoolSpaceProvider::fetchPrice() const {
    return ProviderPipeline::run<Response>(providerName, url, options_, validate);
}

std::expected<double, PriceError> MempoolSpaceProvider::validate(const Response& response) {
    if (!response.USD || !isUsablePrice(*response.USD)) {
        return std::unexpected(
            PriceError::unexpectedResponse(providerName + ": missing or non-positive USD field"));
    }
    return *response.USD;
}
