#pragma once

#include "https_transfer.h"
#include "log_sink.h"
#include "price_provider.h"
#include "strict_json.h"

#include <expected>
#include <string>
#include <string_view>

// The road every provider's request takes: transfer, status check, decoding into the
// provider's own `Response` type, the provider's validation, the record. Only `Response`
// and the validation differ between providers; everything else, the log lines included,
// is written here once.
//
// A provider gives name(), its `Response` type, `Response read(const nlohmann::json&)
// const`, which throws with a readable description when the answer does not fit, and
// `std::expected<double, PriceError> validate(const Response&) const`: the price the
// answer carries or why it carries none.
class ProviderPipeline {
public:
    template <typename Provider>
    static std::expected<BitcoinPrice, PriceError>
    run(const Provider& provider, std::string_view url, const RequestOptions& options) {
        auto body = fetchBody(provider.name(), url, options);
        if (!body) {
            return std::unexpected(std::move(body.error()));
        }
        auto usd = price(provider, *body);
        if (!usd) {
            return std::unexpected(std::move(usd.error()));
        }
        return BitcoinPrice{*usd, BitcoinPrice::Clock::now(), provider.name()};
    }

    // The transfer and the status check. Time-outs and other transfer failures are
    // logged; an invalid URL or a status outside 200 to 299 is not.
    static std::expected<std::string, PriceError>
    fetchBody(const std::string& name, std::string_view url, const RequestOptions& options);

    // Decodes a body into the provider's `Response`; a failure is logged.
    template <typename Provider>
    static std::expected<typename Provider::Response, PriceError> decode(const Provider& provider,
                                                                         std::string_view body) {
        try {
            return provider.read(StrictJson::parse(body));
        } catch (const std::exception& error) {
            return std::unexpected(decodeFailure(provider.name(), error.what()));
        }
    }

    // The part of a request that needs no network: decoding and validation of a body.
    template <typename Provider>
    static std::expected<double, PriceError> price(const Provider& provider,
                                                   std::string_view body) {
        const auto response = decode(provider, body);
        if (!response) {
            return std::unexpected(response.error());
        }
        return provider.validate(*response);
    }

private:
    static PriceError decodeFailure(const std::string& name, std::string_view description);
};
