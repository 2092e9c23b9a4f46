#include "blockchain_info_provider.h"
#include "coin_gecko_provider.h"
#include "coinbase_provider.h"
#include "kraken_provider.h"
#include "mempool_space_provider.h"

Providers makeDefaultProviders(const RequestOptions& options, const Currency& currency) {
    return {
        std::make_shared<MempoolSpaceProvider>(options, currency),
        std::make_shared<CoinbaseProvider>(options, currency),
        std::make_shared<KrakenProvider>(options, currency),
        std::make_shared<BlockchainInfoProvider>(options, currency),
        std::make_shared<CoinGeckoProvider>(options, currency),
    };
}
