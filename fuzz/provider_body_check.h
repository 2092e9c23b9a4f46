#pragma once

#include "fuzz_log.h"
#include "invariant.h"
#include "plain_json.h"
#include "price/bitcoin_price.h"
#include "price/log_sink.h"
#include "price/provider_pipeline.h"
#include "reference_answer.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What must hold for every body a service may send, checked on one provider's decoding
// and validation (the part of a request that needs no network):
// - decoding succeeds exactly when the body fits the answer's shape by a reference
//   reading, and validation gives a price exactly when the reference finds a usable one,
//   the same double;
// - a price is finite and above zero;
// - a decode error is a `decode` error whose text is the provider name, ": " and a
//   description, with one log line "[ticker] NAME decode error: DESCRIPTION" that holds
//   no control character;
// - everything else writes no log line, and a refusal is an `unexpectedResponse` error
//   whose text starts with the provider name.
template <typename Provider>
class ProviderBodyCheck {
public:
    // Reference: `ReferenceAnswer(const nlohmann::json& root)` for a body that parses.
    template <typename Reference>
    static void run(std::string_view body, Reference reference) {
        static FuzzLog log;
        static const Provider provider;
        const std::string& name = provider.name();
        log.take();

        ReferenceAnswer expected;
        if (const auto root = PlainJson::parse(body)) {
            expected = reference(*root);
        }

        const auto response = ProviderPipeline::decode<typename Provider::Response>(name, body);
        const std::vector<std::string> decodeLines = log.take();
        if (!response) {
            checkDecodeError(name, body, response.error(), decodeLines);
            Invariant::require(!expected.decodes, "a body of the answer's shape did not decode",
                               body);
            return;
        }
        Invariant::require(decodeLines.empty(), "decoding wrote a log line", body);
        Invariant::require(expected.decodes, "a body not of the answer's shape decoded", body);

        const auto price = Provider::validate(*response);
        Invariant::require(log.take().empty(), "validation wrote a log line", body);
        if (!price) {
            const PriceError& error = price.error();
            Invariant::require(error.errorCase() == PriceError::Case::unexpectedResponse,
                               "a refused answer is not an unexpectedResponse error", body);
            Invariant::require(error.text().starts_with(name),
                               "a refusal text does not start with the provider name", body);
            Invariant::require(!expected.price, "a usable price was refused", body);
            return;
        }
        Invariant::require(std::isfinite(*price) && *price > 0,
                           "validation let through a price that is not finite and positive", body);
        Invariant::require(expected.price.has_value(), "validation accepted an unusable price",
                           body);
        Invariant::require(std::bit_cast<std::uint64_t>(*price) ==
                               std::bit_cast<std::uint64_t>(*expected.price),
                           "validation gave another price than the body carries", body);
    }

private:
    static void checkDecodeError(const std::string& name, std::string_view body,
                                 const PriceError& error, const std::vector<std::string>& lines) {
        Invariant::require(error.errorCase() == PriceError::Case::decode,
                           "a failed decoding is not a decode error", body);
        const std::string prefix = name + ": ";
        Invariant::require(error.text().starts_with(prefix) && error.text().size() > prefix.size(),
                           "a decode error text is not the name, \": \" and a description", body);
        const std::string description = error.text().substr(prefix.size());
        Invariant::require(lines.size() == 1, "a decode error wrote not exactly one log line",
                           body);
        Invariant::require(
            lines.front() == LogSink::oneLine("[ticker] " + name + " decode error: " + description),
            "the decode error log line differs from the error's description", body);
        for (const char c : lines.front()) {
            const auto byte = static_cast<unsigned char>(c);
            Invariant::require(byte >= 0x20 && byte != 0x7f, "a log line holds a control character",
                               body);
        }
    }
};
