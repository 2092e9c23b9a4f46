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

KrakenProvider::KrakenProvider(RequestOptions options, Currency currency)
    : options_(std::move(options)), currency_(currency),
      url_("https://api.kraken.com/0/public/Ticker?pair=" + std::string(currency.krakenPair)) {}

const std::string& KrakenProvider::name() const {
    return providerName;
}

std::expected<BitcoinPrice, PriceError> KrakenProvider::fetchPrice() const {
    return ProviderPipeline::run(*this, url_, options_);
}

KrakenProvider::Response KrakenProvider::read(const nlohmann::json& json) const {
    return json.get<Response>();
}

std::expected<double, PriceError> KrakenProvider::validate(const Response& response) const {
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
    // US dollars take the pair whose name sorts first, whatever it is called, as they
    // always have.
    auto chosen = response.result.begin();
    if (currency_ != Currency::usd()) {
        chosen = response.result.find(std::string(currency_.krakenKey));
        if (chosen == response.result.end()) {
            chosen = response.result.find(std::string(currency_.krakenPair));
        }
        if (chosen == response.result.end()) {
            return std::unexpected(PriceError::unexpectedResponse(
                "kraken: missing " + std::string(currency_.krakenPair) + " pair"));
        }
    }
    if (chosen->second.c.empty()) {
        return std::unexpected(PriceError::unexpectedResponse("kraken: missing last-trade tuple"));
    }
    const std::string& priceText = chosen->second.c.front();
    const auto price = parseDecimalPrice(priceText);
    if (!price || !isUsablePrice(*price)) {
        return std::unexpected(
            PriceError::unexpectedResponse("kraken: unparseable price '" + priceText + "'"));
    }
    return *price;
}
