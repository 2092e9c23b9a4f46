#pragma once

#include "price/price_provider.h"
#include "price/request_options.h"

#include <memory>
#include <vector>

// The five providers in failover order, the order in which every pass asks them.
std::vector<std::shared_ptr<const PriceProvider>>
makeDefaultProviders(const RequestOptions& options = {});
