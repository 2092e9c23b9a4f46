// Any body that blockchain.info's ticker may answer with.

#include "price/providers/blockchain_info_provider.h"
#include "provider_body_check.h"

#include <cstddef>
#include <cstdint>

namespace {

// An object whose "USD", when given, is an object with a number "last"; the price is that
// number when it is finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    const auto* quote = PlainJson::member(root, "USD");
    if (!quote) {
        return ReferenceAnswer::withPriceNumber(nullptr);
    }
    const auto* last = quote->is_object() ? PlainJson::member(*quote, "last") : nullptr;
    if (!last) {
        return {};
    }
    return ReferenceAnswer::withPriceNumber(last);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<BlockchainInfoProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
