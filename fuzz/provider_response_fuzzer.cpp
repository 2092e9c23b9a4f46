// One body through every provider's decoding and validation (in US dollars and another
// currency), the part of a request that needs no network. An exception that escapes ends the
// process: libFuzzer reports a crash.

#include "check.h"
#include "price/log_sink.h"
#include "price/provider_pipeline.h"
#include "price/providers/blockchain_info_provider.h"
#include "price/providers/coin_gecko_provider.h"
#include "price/providers/coinbase_provider.h"
#include "price/providers/kraken_provider.h"
#include "price/providers/mempool_space_provider.h"

#include <cmath>
#include <vector>

static std::vector<std::string> lines; // the log lines of the current provider

template <typename Provider>
static void check(std::string_view body, const Currency& currency) {
    const Provider provider({}, currency);
    const std::string& name = provider.name();
    lines.clear();
    const auto response = ProviderPipeline::decode(provider, body);
    if (!response) {
        require(lines.size() == 1 && lines[0].starts_with("[ticker] " + name + " decode error: "),
                "a decode failure does not write exactly one decode error line");
        require(response.error().errorCase() == PriceError::Case::decode &&
                    response.error().text().starts_with(name + ": "),
                "a decode failure is not a decode error whose text starts with the name");
        return;
    }
    const auto usd = provider.validate(*response);
    require(lines.empty(), "a body that decodes writes a log line");
    require(usd ? std::isfinite(*usd) && *usd > 0
                : usd.error().errorCase() == PriceError::Case::unexpectedResponse,
            "validation gave a price not finite and positive, or an error of another case");
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LogSink::exchangeWriter([](std::string_view line) { lines.emplace_back(line); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view body(reinterpret_cast<const char*>(data), size);
    for (const Currency& currency : {Currency::usd(), currencies[1 + size % 6]}) {
        check<MempoolSpaceProvider>(body, currency);
        check<CoinbaseProvider>(body, currency);
        check<KrakenProvider>(body, currency);
        check<BlockchainInfoProvider>(body, currency);
        check<CoinGeckoProvider>(body, currency);
    }
    return 0;
}
