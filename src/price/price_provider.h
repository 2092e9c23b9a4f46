#pragma once

#include "bitcoin_price.h"
#include "price_error.h"

#include <expected>
#include <string>

// A source of the bitcoin price. Implementations hold only constants, so one provider may
// be called from any thread, and several calls may run at once.
class PriceProvider {
public:
    virtual ~PriceProvider() = default;

    // Constant for the provider's life: the `source` of its records and the word that
    // names it in every message.
    virtual const std::string& name() const = 0;

    // Blocks until the service has answered or failed; meant for a worker thread.
    virtual std::expected<BitcoinPrice, PriceError> fetchPrice() const = 0;
};
