#include "blockchain_info_provider.h"

#include "price/provider_pipeline.h"

BlockchainInfoProvider::BlockchainInfoProvider(RequestOptions options, Currency currency)
    : options_(std::move(options)), currency_(currency) {}

const std::string& BlockchainInfoProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> BlockchainInfoProvider::fetchPrice() const {
    return ProviderPipeline::run(*this, url, options_);
}

BlockchainInfoProvider::Response BlockchainInfoProvider::read(const nlohmann::json& json) const {
    Response response;
    if (const auto* quote = StrictJson::optional(json, currency_.code)) {
        response.quote = CurrencyQuote{StrictJson::number(StrictJson::required(*quote, "last"))};
    }
    return response;
}

std::expected<double, PriceError> BlockchainInfoProvider::validate(const Response& response) const {
    if (!response.quote || !isUsablePrice(response.quote->last)) {
        return std::unexpected(PriceError::unexpectedResponse(
            providerName + ": missing or non-positive " + std::string(currency_.code) + ".last"));
    }
    return response.quote->last;
}
