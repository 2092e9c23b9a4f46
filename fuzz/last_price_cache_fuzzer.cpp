// Any bytes that may stand in the settings file as the stored last price.

#include "fetch/last_price_cache.h"
#include "fetch/reference_date.h"
#include "invariant.h"
#include "plain_json.h"

#include <QByteArray>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace {

// What a time point holds, in seconds after the reference date: nanoseconds in 64 bits.
constexpr long double earliestSeconds =
    -9223372036.854775808L - static_cast<long double>(ReferenceDate::unixSeconds);
constexpr long double latestSeconds =
    9223372036.854775807L - static_cast<long double>(ReferenceDate::unixSeconds);

struct ReferenceRecord {
    double usd = 0;
    double seconds = 0;
    std::string source;
};

// An object with number members "usd" and "timestamp" and a string member "source".
std::optional<ReferenceRecord> referenceRecord(std::string_view text) {
    const auto root = PlainJson::parse(text);
    if (!root || !root->is_object()) {
        return std::nullopt;
    }
    const auto* usd = PlainJson::member(*root, "usd");
    const auto* timestamp = PlainJson::member(*root, "timestamp");
    const auto* source = PlainJson::member(*root, "source");
    if (!usd || !usd->is_number() || !timestamp || !timestamp->is_number() || !source ||
        !source->is_string()) {
        return std::nullopt;
    }
    return ReferenceRecord{usd->get<double>(), timestamp->get<double>(),
                           source->get<std::string>()};
}

long double nanosecondsSinceUnixEpoch(std::chrono::system_clock::time_point time) {
    return static_cast<long double>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count());
}

std::string_view view(const QByteArray& bytes) {
    return {bytes.constData(), static_cast<std::size_t>(bytes.size())};
}

void checkRoundTrip(const BitcoinPrice& decoded, std::string_view input) {
    const auto encoded = LastPriceCache::encode(decoded);
    Invariant::require(encoded.has_value(), "a decoded record does not encode", input);
    const std::string_view stored = view(*encoded);
    const auto compact = nlohmann::ordered_json::parse(stored, nullptr, false);
    Invariant::require(!compact.is_discarded() && compact.is_object() && compact.size() == 3 &&
                           compact.dump() == stored,
                       "an encoded record is not one compact object of three members", input);

    const auto again = LastPriceCache::decode(*encoded);
    Invariant::require(again.has_value(), "an encoded record does not decode", input);
    Invariant::require(*again == decoded && std::signbit(again->usd) == std::signbit(decoded.usd),
                       "a record does not survive encoding and decoding", input);
    const auto reencoded = LastPriceCache::encode(*again);
    Invariant::require(reencoded && *reencoded == *encoded,
                       "encoding a decoded record changes its bytes", input);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const auto decoded = LastPriceCache::decode(
        QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)));
    const auto reference = referenceRecord(input);

    if (!reference) {
        Invariant::require(!decoded, "a record without its three members decoded", input);
        return 0;
    }
    const long double seconds = reference->seconds;
    const bool inRange = std::isfinite(reference->usd) && seconds > earliestSeconds + 1 &&
                         seconds < latestSeconds - 1;
    const bool outOfRange = !std::isfinite(reference->usd) || !std::isfinite(reference->seconds) ||
                            seconds < earliestSeconds - 1 || seconds > latestSeconds + 1;
    if (!decoded) {
        Invariant::require(!inRange, "a record with finite values in range did not decode", input);
        return 0;
    }
    Invariant::require(!outOfRange, "a record with values out of range decoded", input);
    Invariant::require(decoded->usd == reference->usd &&
                           std::signbit(decoded->usd) == std::signbit(reference->usd),
                       "the decoded usd is not the stored number", input);
    Invariant::require(decoded->source == reference->source,
                       "the decoded source is not the stored string", input);
    const long double expectedNanoseconds =
        (seconds + static_cast<long double>(ReferenceDate::unixSeconds)) * 1e9L;
    Invariant::require(
        std::fabs(nanosecondsSinceUnixEpoch(decoded->timestamp) - expectedNanoseconds) <= 2,
        "the decoded timestamp is not the stored instant", input);
    checkRoundTrip(*decoded, input);
    return 0;
}
