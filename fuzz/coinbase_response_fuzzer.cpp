// Any body that Coinbase's spot price may answer with.

#include "price/providers/coinbase_provider.h"
#include "provider_body_check.h"
#include "reference_decimal.h"

#include <cstddef>
#include <cstdint>

namespace {

// An object with a "data" object whose "amount", "base" and "currency" are strings; the
// price is the amount read as a decimal when the currency is "USD" and the amount is
// finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    const auto* payload = PlainJson::member(root, "data");
    if (!payload || !payload->is_object()) {
        return {};
    }
    for (const char* key : {"amount", "base", "currency"}) {
        const auto* text = PlainJson::member(*payload, key);
        if (!text || !text->is_string()) {
            return {};
        }
    }
    ReferenceAnswer answer{.decodes = true, .price = {}};
    if (payload->at("currency") == "USD") {
        answer.price = ReferenceDecimal::usablePrice(payload->at("amount").get<std::string>());
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<CoinbaseProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
