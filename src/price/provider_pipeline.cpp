#include "provider_pipeline.h"

#include "https_transfer.h"

namespace {

PriceError transferError(const std::string& name, HttpsTransfer::Error error) {
    switch (error.kind) {
    case HttpsTransfer::Error::Kind::invalidUrl:
        return PriceError::unexpectedResponse("invalid " + name + " URL", "invalid address");
    case HttpsTransfer::Error::Kind::timedOut:
        LogSink::write("[ticker] " + name + " timeout");
        return PriceError::timeout();
    case HttpsTransfer::Error::Kind::aborted:
        // The program is ending: not a failure of the service, so nothing is logged.
        return PriceError::network(std::move(error.failure));
    case HttpsTransfer::Error::Kind::failed:
        break;
    }
    LogSink::write("[ticker] " + name + " network error: " + error.failure.description);
    return PriceError::network(std::move(error.failure));
}

} // namespace

std::expected<std::string, PriceError> ProviderPipeline::fetchBody(const std::string& name,
                                                                   std::string_view url,
                                                                   const RequestOptions& options) {
    auto response = HttpsTransfer::get(url, options);
    if (!response) {
        return std::unexpected(transferError(name, std::move(response.error())));
    }
    if (response->status == 0) {
        return std::unexpected(
            PriceError::unexpectedResponse("non-HTTP response from " + name, "not an HTTP answer"));
    }
    if (response->status < 200 || response->status > 299) {
        const std::string status = "HTTP " + std::to_string(response->status);
        return std::unexpected(PriceError::unexpectedResponse(name + " " + status, status));
    }
    return std::move(response->body);
}

PriceError ProviderPipeline::decodeFailure(const std::string& name, std::string_view description) {
    LogSink::write("[ticker] " + name + " decode error: " + std::string(description));
    return PriceError::decode(name + ": " + std::string(description));
}
