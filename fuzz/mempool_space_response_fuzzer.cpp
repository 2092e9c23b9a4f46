// Any body that mempool.space's price list may answer with.

#include "price/providers/mempool_space_provider.h"
#include "provider_body_check.h"

#include <cstddef>
#include <cstdint>

namespace {

// An object whose "time", when given, is an integral number that fits 64 bits and whose
// "USD", when given, is a number; the price is "USD" when it is finite and above zero.
ReferenceAnswer referenceAnswer(const nlohmann::json& root) {
    if (!root.is_object()) {
        return {};
    }
    const auto* time = PlainJson::member(root, "time");
    if (time && !PlainJson::isInteger64(*time)) {
        return {};
    }
    return ReferenceAnswer::withPriceNumber(PlainJson::member(root, "USD"));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProviderBodyCheck<MempoolSpaceProvider>::run(
        std::string_view(reinterpret_cast<const char*>(data), size), referenceAnswer);
    return 0;
}
