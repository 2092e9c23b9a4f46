#include "coinbase_provider.h"

#include "price/provider_pipeline.h"
#include "price/strict_json.h"

void from_json(const nlohmann::json& json, CoinbaseProvider::Response::Payload& payload) {
    payload.amount = StrictJson::text(StrictJson::required(json, "amount"));
    payload.base = StrictJson::text(StrictJson::required(json, "base"));
    payload.currency = StrictJson::text(StrictJson::required(json, "currency"));
}

void from_json(const nlohmann::json& json, CoinbaseProvider::Response& response) {
    response.data = StrictJson::required(json, "data").get<CoinbaseProvider::Response::Payload>();
}

CoinbaseProvider::CoinbaseProvider(RequestOptions options) : options_(std::move(options)) {}

const std::string& CoinbaseProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> CoinbaseProvider::fetchPrice() const {
    return ProviderPipeline::run<Response>(providerName, url, options_, validate);
}

std::expected<double, PriceError> CoinbaseProvider::validate(const Response& response) {
    if (response.data.currency != "USD") {
        return std::unexpected(PriceError::unexpectedResponse("coinbase: unexpected currency " +
                                                              response.data.currency));
    }
    const auto amount = parseDecimalPrice(response.data.amount);
    if (!amount || !isUsablePrice(*amount)) {
        return std::unexpected(PriceError::unexpectedResponse(
            "coinbase: amount '" + response.data.amount + "' not a positive Double"));
    }
    return *amount;
}
