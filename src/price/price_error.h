#pragma once

#include <string>
#include <string_view>

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
    static PriceError unexpectedResponse(std::string text);
    static PriceError timeout();

    Case errorCase() const { return case_; }
    int code() const { return static_cast<int>(case_); }

    // The payload text of `decode` and `unexpectedResponse`; empty for the other cases.
    const std::string& text() const;
    // The failure carried by `network`; nullptr for the other cases.
    const TransferFailure* transferFailure() const;

    // The generic one-line rendering: the same sentence for every case, told apart only
    // by the domain and code. The payload is never shown.
    std::string localizedDescription() const;

    bool operator==(const PriceError&) const = default;

private:
    explicit PriceError(Case errorCase) : case_(errorCase) {}

    Case case_;
    std::string text_;        // decode, unexpectedResponse
    TransferFailure failure_; // network
};
