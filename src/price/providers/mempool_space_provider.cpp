#include "mempool_space_provider.h"

#include "price/provider_pipeline.h"

MempoolSpaceProvider::MempoolSpaceProvider(RequestOptions options, Currency currency)
    : options_(std::move(options)), currency_(currency) {}

const std::string& MempoolSpaceProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> MempoolSpaceProvider::fetchPrice() const {
    return ProviderPipeline::run(*this, url, options_);
}

MempoolSpaceProvider::Response MempoolSpaceProvider::read(const nlohmann::json& json) const {
    Response response;
    if (const auto* time = StrictJson::optional(json, "time")) {
        response.time = StrictJson::integer(*time);
    }
    if (const auto* price = StrictJson::optional(json, currency_.code)) {
        response.price = StrictJson::number(*price);
    }
    return response;
}

std::expected<double, PriceError> MempoolSpaceProvider::validate(const Response& response) const {
    if (!response.price || !isUsablePrice(*response.price)) {
        return std::unexpected(PriceError::unexpectedResponse(
            providerName + ": missing or non-positive " + std::string(currency_.code) + " field"));
    }
    return *response.price;
}
