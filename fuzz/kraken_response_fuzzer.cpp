// Any body that Kraken's public ticker may answer with.

#include "price/providers/kraken_provider.h"
#include "provider_body_check.h"
#include "reference_decimal.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

bool isTextList(const nlohmann::json* value) {
    if (!value || !value->is_array()) {
        return false;
    }
    for (const auto& entry : *value) {
        if (!entry.is_string()) {
            return false;
        }
    }
    return true;
}

// An object with an "error" list of strings and a "result" object whose every entry is
// an object with a "c" list of strings. The price is the first text of "c" of the entry
// whose name sorts first byte by byte, read as a decimal, when the error list is empty
// and that text is finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    const auto* errors = PlainJson::member(root, "error");
    const auto* result = PlainJson::member(root, "result");
    if (!isTextList(errors) || !result || !result->is_object()) {
        return {};
    }
    std::string firstPair;
    const nlohmann::json* firstTicker = nullptr;
    for (auto entry = result->begin(); entry != result->end(); ++entry) {
        const nlohmann::json& ticker = entry.value();
        if (!ticker.is_object() || !isTextList(PlainJson::member(ticker, "c"))) {
            return {};
        }
        if (!firstTicker || entry.key().compare(firstPair) < 0) {
            firstPair = entry.key();
            firstTicker = &ticker;
        }
    }
    ReferenceAnswer answer{.decodes = true, .price = {}};
    if (errors->empty() && firstTicker && !firstTicker->at("c").empty()) {
        answer.price =
            ReferenceDecimal::usablePrice(firstTicker->at("c").front().get<std::string>());
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<KrakenProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
