#include "coin_gecko_provider.h"

#include "price/provider_pipeline.h"

CoinGeckoProvider::CoinGeckoProvider(RequestOptions options, Currency currency)
    : options_(std::move(options)), currency_(currency),
      url_("https://api.coingecko.com/api/v3/simple/price?ids=bitcoin&vs_currencies=" +
           std::string(currency.coinGeckoCode)) {}

const std::string& CoinGeckoProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> CoinGeckoProvider::fetchPrice() const {
    return ProviderPipeline::run(*this, url_, options_);
}

CoinGeckoProvider::Response CoinGeckoProvider::read(const nlohmann::json& json) const {
    Response response;
    if (const auto* bitcoin = StrictJson::optional(json, "bitcoin")) {
        response.bitcoin =
            CoinQuote{StrictJson::number(StrictJson::required(*bitcoin, currency_.coinGeckoCode))};
    }
    return response;
}

std::expected<double, PriceError> CoinGeckoProvider::validate(const Response& response) const {
    if (!response.bitcoin || !isUsablePrice(response.bitcoin->price)) {
        return std::unexpected(PriceError::unexpectedResponse(
            "coingecko: missing or non-positive bitcoin." + std::string(currency_.coinGeckoCode)));
    }
    return response.bitcoin->price;
}
