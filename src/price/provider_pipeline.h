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
class ProviderPipeline {
public:
    // Validate: `std::expected<double, PriceError>(const Response&)`, the price the
    // answer carries or why it carries none.
    template <typename Response, typename Validate>
    static std::expected<BitcoinPrice, PriceError>
    run(const std::string& name, std::string_view url, const RequestOptions& options,
        Validate validate) {
        auto body = fetchBody(name, url, options);
        if (!body) {
            return std::unexpected(std::move(body.error()));
        }
        const auto response = decode<Response>(name, *body);
        if (!response) {
            return std::unexpected(response.error());
        }
        auto usd = validate(*response);
        if (!usd) {
            return std::unexpected(std::move(usd.error()));
        }
        return BitcoinPrice{*usd, BitcoinPrice::Clock::now(), name};
    }

    // The transfer and the status check. Time-outs and other transfer failures are
    // logged; an invalid URL or a status outside 200 to 299 is not.
    static std::expected<std::string, PriceError>
    fetchBody(const std::string& name, std::string_view url, const RequestOptions& options);

    // Decodes a body into `Response` (which has a `from_json`); a failure is logged.
    template <typename Response>
    static std::expected<Response, PriceError> decode(const std::string& name,
                                                      std::string_view body) {
        try {
            return StrictJson::parse(body).template get<Response>();
        } catch (const std::exception& error) {
            return std::unexpected(decodeFailure(name, error.what()));
        }
    }

private:
    static PriceError decodeFailure(const std::string& name, std::string_view description);
};
