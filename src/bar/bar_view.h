#pragma once

#include "price/bitcoin_price.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// Everything a status bar may show at one moment. The age is kept to whole minutes, as a
// bar gets a new record whenever what it shows changes.
struct BarView {
    QString title;
    QString source; // empty while there is no price
    QString age;    // empty while there is no price
    std::optional<QString> failure;
    QStringList tooltip; // the popover's rows as text lines

    static BarView of(const std::optional<BitcoinPrice>& latestPrice,
                      const std::optional<QString>& lastError,
                      std::chrono::system_clock::time_point now, const QLocale& locale);
};
