#pragma once

#include "currency.h"

#include <chrono>
#include <expected>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct RequestOptions;

// One quote: the price of one bitcoin, when it was accepted and who gave it.
struct BitcoinPrice {
    using Clock = std::chrono::system_clock;

    // In the currency its providers were asked for: US dollars unless another was chosen.
    double usd = 0;
    // When the provider accepted the quote, read from the local clock; never a time the
    // service reported.
    Clock::time_point timestamp;
    std::string source;

    bool operator==(const BitcoinPrice&) const = default;
};

// Whether a provider may put this value in a record: finite and strictly greater than zero
// (so not zero, negative, NaN or infinite).
inline bool isUsablePrice(double usd) {
    return usd > 0 && usd < std::numeric_limits<double>::infinity();
}

// The underlying failure of a transfer that did not time out, kept as libcurl gave it.
struct TransferFailure {
    int curlCode = 0;
    std::string description;

    bool operator==(const TransferFailure&) const = default;
};

// Why a provider could not give a price. The case order fixes each case's code.
class PriceError {
public:
    enum class Case { network = 0, decode = 1, unexpectedResponse = 2, timeout = 3 };

    static constexpr std::string_view domain = "Brimwell_Ticker.PriceError";

    static PriceError network(TransferFailure failure);
    static PriceError decode(std::string text);
    // `cause`: what went wrong in a few words, for a reader of the panel (see cause()).
    static PriceError unexpectedResponse(std::string text,
                                         std::string cause = std::string(noUsablePrice));
    static PriceError timeout();

    static constexpr std::string_view noUsablePrice = "no usable price";

    Case errorCase() const { return case_; }
    int code() const { return static_cast<int>(case_); }

    // The payload text of `decode` and `unexpectedResponse`; empty for the other cases.
    const std::string& text() const { return text_; }
    // The failure carried by `network`; nullptr for the other cases.
    const TransferFailure* transferFailure() const {
        return case_ == Case::network ? &failure_ : nullptr;
    }

    // Why the attempt failed, in a few words a person can act on: "couldn't connect",
    // "timed out", "HTTP 500", "no usable price" (an answer without one)...
    const std::string& cause() const { return cause_; }

    // The generic one-line rendering: the same sentence for every case, told apart only
    // by the domain and code. The payload is never shown.
    std::string localizedDescription() const;

    bool operator==(const PriceError&) const = default;

private:
    explicit PriceError(Case errorCase) : case_(errorCase) {}

    Case case_;
    std::string cause_;
    std::string text_;        // decode, unexpectedResponse
    TransferFailure failure_; // network
};

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

using Providers = std::vector<std::shared_ptr<const PriceProvider>>;

// The five providers in failover order, the order in which every pass asks them, each
// asking for the price in `currency`.
Providers makeDefaultProviders(const RequestOptions& options,
                               const Currency& currency = Currency::usd());
