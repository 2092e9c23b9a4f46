#include "local_price_services.h"

const std::vector<std::string>& LocalPriceServices::hostNames() {
    static const std::vector<std::string> names = {"mempool.space", "api.coinbase.com",
                                                   "api.kraken.com", "blockchain.info",
                                                   "api.coingecko.com"};
    return names;
}

LocalPriceServices::LocalPriceServices()
    : certificate_(ca_.issue(hostNames())), server_(std::make_unique<TlsTestServer>(certificate_)) {
}

RequestOptions LocalPriceServices::options(TransferLimits limits) const {
    return optionsForPort(server_->port(), limits);
}

RequestOptions LocalPriceServices::optionsForPort(int port, TransferLimits limits) const {
    RequestOptions options;
    for (const auto& host : hostNames()) {
        options.connectTo.push_back(host + ":443:127.0.0.1:" + std::to_string(port));
    }
    options.caFile = ca_.certificatePath();
    options.limits = limits;
    return options;
}
