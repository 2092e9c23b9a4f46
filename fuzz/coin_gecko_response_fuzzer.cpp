// Any body that CoinGecko's simple price may answer with.

#include "price/providers/coin_gecko_provider.h"
#include "provider_body_check.h"

#include <cstddef>
#include <cstdint>

namespace {

// An object whose "bitcoin", when given, is an object with a number "usd"; the price is that
// number when it is finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    const auto* quote = PlainJson::member(root, "bitcoin");
    if (!quote) {
        return ReferenceAnswer::withPriceNumber(nullptr);
    }
    const auto* usd = quote->is_object() ? PlainJson::member(*quote, "usd") : nullptr;
    if (!usd) {
        return {};
    }
    return ReferenceAnswer::withPriceNumber(usd);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<CoinGeckoProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
