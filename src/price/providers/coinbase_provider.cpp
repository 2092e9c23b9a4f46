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

CoinbaseProvider::CoinbaseProvider(RequestOptions options, Currency currency)
    : options_(std::move(options)), currency_(currency),
      url_("https://api.coinbase.com/v2/prices/" + std::string(currency.coinbaseProduct) +
           "/spot") {}

const std::string& CoinbaseProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> CoinbaseProvider::fetchPrice() const {
    return ProviderPipeline::run(*this, url_, options_);
}

CoinbaseProvider::Response CoinbaseProvider::read(const nlohmann::json& json) const {
    return json.get<Response>();
}

std::expected<double, PriceError> CoinbaseProvider::validate(const Response& response) const {
    if (response.data.currency != currency_.code) {
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
