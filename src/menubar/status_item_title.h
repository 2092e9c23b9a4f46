#pragma once

#include "price/bitcoin_price.h"

#include <QLocale>
#include <QString>

#include <optional>

// The panel title: "₿ ..." while no price is known, else "₿ 67,432": whole dollars,
// always grouped with "," whatever the locale, which still gives group sizes, digit
// shapes and minus sign.
QString statusItemTitle(const std::optional<BitcoinPrice>& price, const QLocale& locale);
