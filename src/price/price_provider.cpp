#include "price_provider.h"

PriceError PriceError::network(TransferFailure failure) {
    PriceError error(Case::network);
    error.failure_ = std::move(failure);
    return error;
}

PriceError PriceError::decode(std::string text) {
    PriceError error(Case::decode);
    error.text_ = std::move(text);
    return error;
}

PriceError PriceError::unexpectedResponse(std::string text) {
    PriceError error(Case::unexpectedResponse);
    error.text_ = std::move(text);
    return error;
}

PriceError PriceError::timeout() {
    return PriceError(Case::timeout);
}

std::string PriceError::localizedDescription() const {
    return "The operation couldn\u2019t be completed. (" + std::string(domain) + " error " +
           std::to_string(code()) + ".)";
}
