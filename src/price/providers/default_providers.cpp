#include "blockchain_info_provider.h"
#include "coin_gecko_provider.h"
#include "coinbase_provider.h"
#include "kraken_provider.h"
#include "mempool_space_provider.h"

Providers makeDefaultProviders(const RequestOptions& options) {
    return {
        std::make_shared<MempoolSpaceProvider>(options),
        std::make_shared<CoinbaseProvider>(options),
        std::make_shared<KrakenProvider>(options),
        std::make_shared<BlockchainInfoProvider>(options),
        std::make_shared<CoinGeckoProvider>(options),
    };
}
