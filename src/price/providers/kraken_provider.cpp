#include "kraken_provider.h"

#include "price/provider_pipeline.h"
#include "price/strict_json.h"

namespace {
std::vector<std::string> textList(const nlohmann::json& json) {
    StrictJson::requireArray(json);
    std::vector<std::string> texts;
    texts.reserve(json.size());
    for (const auto& entry : json) {
        texts.push_back(StrictJson::text(entry));
    }
    return texts;
}

} // namespace

void from_json(const nlohmann::json& json, KrakenProvider::PairTicker& ticker) {
    ticker.c = textList(StrictJson::required(json, "c"));
}

void from_json(const nlohmann::json& json, KrakenProvider::Response& response) {
    response.error = textList(StrictJson::required(json, "error"));
    const auto& result = StrictJson::required(json, "result");
    StrictJson::requireObject(result);
    // Every entry is decoded, also those that will not be chosen.
    for (const auto& [pair, ticker] : result.items()) {
        response.result.emplace(pair, ticker.get<KrakenProvider::PairTicker>());
    }
}

KrakenProvider::KrakenProvider(RequestOptions options) : options_(std::move(options)) {}

const std::string& KrakenProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> KrakenProvider::fetchPrice() const {
    return ProviderPipeline::run<Response>(providerName, url, options_, validate);
}

std::expected<double, PriceError> KrakenProvider::validate(const Response& response) {
    if (!response.error.empty()) {
        std::string joined = response.error.front();
        for (std::size_t i = 1; i < response.error.size(); ++i) {
            joined += ", " + response.error[i];
        }
        return std::unexpected(PriceError::unexpectedResponse("kraken API error: " + joined));
    }
    if (response.result.empty()) {
        return std::unexpected(PriceError::unexpectedResponse("kraken: empty result map"));
    }
    const PairTicker& chosen = response.result.begin()->second;
    if (chosen.c.empty()) {
        return std::unexpected(PriceError::unexpectedResponse("kraken: missing last-trade tuple"));
    }
    const std::string& priceText = chosen.c.front();
    const auto price = parseDecimalPrice(priceText);
    if (!price || !isUsablePrice(*price)) {
        return std::unexpected(
            PriceError::unexpectedResponse("kraken: unparseable price '" + priceText + "'"));
    }
    return *price;
}
