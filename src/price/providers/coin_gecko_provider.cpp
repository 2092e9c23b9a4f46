#include "coin_gecko_provider.h"

#include "price/provider_pipeline.h"

void from_json(const nlohmann::json& json, CoinGeckoProvider::CoinQuote& quote) {
    quote.usd = StrictJson::number(StrictJson::required(json, "usd"));
}

void from_json(const nlohmann::json& json, CoinGeckoProvider::Response& response) {
    if (const auto* bitcoin = StrictJson::optional(json, "bitcoin")) {
        // Not json::get: clang settles whether the quote is default-constructible while
        // the provider class is still incomplete, and get then refuses the type.
        CoinGeckoProvider::CoinQuote quote;
        from_json(*bitcoin, quote);
        response.bitcoin = quote;
    }
}

CoinGeckoProvider::CoinGeckoProvider(RequestOptions options) : options_(std::move(options)) {}

const std::string& CoinGeckoProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> CoinGeckoProvider::fetchPrice() const {
    return ProviderPipeline::run<Response>(providerName, url, options_, validate);
}

std::expected<double, PriceError> CoinGeckoProvider::validate(const Response& response) {
    if (!response.bitcoin || !isUsablePrice(response.bitcoin->usd)) {
        return std::unexpected(
            PriceError::unexpectedResponse("coingecko: missing or non-positive bitcoin.usd"));
    }
    return response.bitcoin->usd;
}
