#include "blockchain_info_provider.h"

#include "price/provider_pipeline.h"

void from_json(const nlohmann::json& json, BlockchainInfoProvider::CurrencyQuote& quote) {
    quote.last = StrictJson::number(StrictJson::required(json, "last"));
}

void from_json(const nlohmann::json& json, BlockchainInfoProvider::Response& response) {
    if (const auto* usd = StrictJson::optional(json, "USD")) {
        // Not json::get: clang settles whether the quote is default-constructible while
        // the provider class is still incomplete, and get then refuses the type.
        BlockchainInfoProvider::CurrencyQuote quote;
        from_json(*usd, quote);
        response.USD = quote;
    }
}

BlockchainInfoProvider::BlockchainInfoProvider(RequestOptions options)
    : options_(std::move(options)) {}

const std::string& BlockchainInfoProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> BlockchainInfoProvider::fetchPrice() const {
    return ProviderPipeline::run<Response>(providerName, url, options_, validate);
}

std::expected<double, PriceError> BlockchainInfoProvider::validate(const Response& response) {
    if (!response.USD || !isUsablePrice(response.USD->last)) {
        return std::unexpected(
            PriceError::unexpectedResponse(providerName + ": missing or non-positive USD.last"));
    }
    return response.USD->last;
}
