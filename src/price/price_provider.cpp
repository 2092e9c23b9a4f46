#include "price_provider.h"

#include "https_transfer.h"

#include <curl/curl.h>

namespace {

// A transfer failure in the words of someone who did not write the program.
std::string transferCause(const TransferFailure& failure) {
    if (failure.description == HttpsTransfer::bodyTooLarge) {
        return "answer too large";
    }
    switch (failure.curlCode) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return "host not found";
    case CURLE_COULDNT_CONNECT:
        return "couldn't connect";
    case CURLE_UNSUPPORTED_PROTOCOL:
        return "redirect refused";
    case CURLE_TOO_MANY_REDIRECTS:
        return "too many redirects";
    case CURLE_PEER_FAILED_VERIFICATION:
        return "certificate not trusted";
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
        return "secure connection failed";
    case CURLE_GOT_NOTHING:
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_PARTIAL_FILE:
        return "connection broken";
    default:
        return "network error";
    }
}

} // namespace

PriceError PriceError::network(TransferFailure failure) {
    PriceError error(Case::network);
    error.cause_ = transferCause(failure);
    error.failure_ = std::move(failure);
    return error;
}

PriceError PriceError::decode(std::string text) {
    PriceError error(Case::decode);
    error.cause_ = noUsablePrice;
    error.text_ = std::move(text);
    return error;
}

PriceError PriceError::unexpectedResponse(std::string text, std::string cause) {
    PriceError error(Case::unexpectedResponse);
    error.cause_ = std::move(cause);
    error.text_ = std::move(text);
    return error;
}

PriceError PriceError::timeout() {
    PriceError error(Case::timeout);
    error.cause_ = "timed out";
    return error;
}

std::string PriceError::localizedDescription() const {
    return "The operation couldn\u2019t be completed. (" + std::string(domain) + " error " +
           std::to_string(code()) + ".)";
}
