// Any body that CoinGecko's simple price may answer with.

#include "price/providers/coin_gecko_provider.h"
#include "provider_body_check.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// An object whose "bitcoin", when given, is an object with a number "usd"; the price is that
// number when it is finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    ReferenceAnswer answer{.decodes = true, .price = {}};
    if (const auto* quote = PlainJson::member(root, "bitcoin")) {
        if (!quote->is_object()) {
            return {};
        }
        const auto* usd = PlainJson::member(*quote, "usd");
        if (!usd || !usd->is_number()) {
            return {};
        }
        const double value = usd->get<double>();
        if (std::isfinite(value) && value > 0) {
            answer.price = value;
        }
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<CoinGeckoProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
