// Any bytes that may stand in the settings file as the stored last price.

#include "check.h"
#include "fetch/last_price_cache.h"

#include <QByteArray>

#include <algorithm>
#include <cmath>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto decoded = LastPriceCache::decode(bytes);
    // Trailing white space leaves a JSON text as it was; it may only take it past the limit.
    QByteArray padded = bytes;
    padded.resize(std::max(bytes.size(), LastPriceCache::maxRecordBytes), ' ');
    require(LastPriceCache::decode(padded) == decoded, "white space up to the size limit matters");
    require(!LastPriceCache::decode(padded + ' '), "a record over the size limit decoded");
    if (!decoded) {
        return 0;
    }
    require(std::isfinite(decoded->usd), "a decoded usd is not finite");
    const auto encoded = LastPriceCache::encode(*decoded);
    require(encoded.has_value(), "a decoded record does not encode");
    const auto again = LastPriceCache::decode(*encoded);
    require(again == decoded && std::signbit(again->usd) == std::signbit(decoded->usd),
            "a record does not survive encoding and decoding");
    return 0;
}
