// Any body that blockchain.info's ticker may answer with.

#include "price/providers/blockchain_info_provider.h"
#include "provider_body_check.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

// An object whose "USD", when given, is an object with a number "last"; the price is that
// number when it is finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    ReferenceAnswer answer{.decodes = true, .price = {}};
    if (const auto* quote = PlainJson::member(root, "USD")) {
        if (!quote->is_object()) {
            return {};
        }
        const auto* last = PlainJson::member(*quote, "last");
        if (!last || !last->is_number()) {
            return {};
        }
        const double value = last->get<double>();
        if (std::isfinite(value) && value > 0) {
            answer.price = value;
        }
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<BlockchainInfoProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
