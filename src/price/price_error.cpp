#include "price_error.h"

PriceError PriceError::network(TransferFailure failure) {
    return {Case::network, std::move(failure)};
}

PriceError PriceError::decode(std::string text) {
    return {Case::decode, std::move(text)};
}

PriceError PriceError::unexpectedResponse(std::string text) {
    return {Case::unexpectedResponse, std::move(text)};
}

PriceError PriceError::timeout() {
    return {Case::timeout, std::monostate{}};
}

const std::string& PriceError::text() const {
    static const std::string none;
    const auto* text = std::get_if<std::string>(&payload_);
    return text ? *text : none;
}

const TransferFailure* PriceError::transferFailure() const {
    return std::get_if<TransferFailure>(&payload_);
}

std::string PriceError::localizedDescription() const {
    return "The operation couldn\u2019t be completed. (" + std::string(domain) + " error " +
           std::to_string(code()) + ".)";
}
