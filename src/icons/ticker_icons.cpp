#include "ticker_icons.h"

std::string_view tickerIconName(IconVariant variant) {
    return variant == IconVariant::stale ? "brimwell-ticker-stale" : "brimwell-ticker";
}
