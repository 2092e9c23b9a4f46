#pragma once

#include "fetch/price_history.h"
#include "price/price_provider.h"

#include <QLocale>
#include <QString>

#include <chrono>
#include <optional>

// The texts of a price as the user sees them.

// The panel title: "₿ ..." while no price is known, else "₿ 67,432": whole dollars,
// always grouped with "," whatever the locale, which still gives group sizes, digit
// shapes and minus sign.
QString statusItemTitle(const std::optional<BitcoinPrice>& price, const QLocale& locale);
inline const QString placeholderTitle = QStringLiteral("\u20BF ...");

// The popover's large price, "₿ 67,432" in en_US and "₿ 67.432" in de_DE: whole dollars
// grouped with the locale's own separator.
QString formattedPrice(double usd, const QLocale& locale);

// "₿ " followed by the dollar value rounded half to even to whole dollars, in decimal
// style with grouping: group sizes, digit shapes and minus sign from `locale`, the group
// separator from `locale` too unless `groupSeparator` replaces it. A value the locale
// cannot write as digits (infinite or NaN) falls back to truncatedDollarDigits.
QString priceDisplayText(double usd, const QLocale& locale,
                         const std::optional<QString>& groupSeparator = std::nullopt);

// `usd` truncated toward zero to a signed 64-bit integer in plain decimal digits; values
// beyond that range give its ends, NaN gives 0.
QString truncatedDollarDigits(double usd);

// now - then, saturated at the ends of the range: a stored timestamp may lie anywhere on
// the clock's range, and the plain difference of two extreme time points overflows. Every
// age the program shows goes through here.
std::chrono::seconds ageOf(std::chrono::system_clock::time_point then,
                           std::chrono::system_clock::time_point now);

// How old a quote is, as "5 sec", "2 min, 5 sec", "1 hr, 3 min", "1 day, 2 hr", "3 days":
// the largest non-zero unit, then the next smaller unit when that one is not zero. A
// negative age (a quote stamped in the future) shows its magnitude.
QString relativeAge(std::chrono::seconds age);

// When a quote was taken, for a tooltip: the time of day in `locale`'s short form, with
// the date in front when it is not `now`'s day in the local time zone.
QString quoteTime(std::chrono::system_clock::time_point then,
                  std::chrono::system_clock::time_point now, const QLocale& locale);

// How the price moved over the last day, from the first recorded point of the last 24
// hours to the newest: "+2.3 % in 24 h" when the points cover the day, "−0.8 % since
// 09:12" (the first point's time of day) when they cover less; empty until they span an
// hour, and for a change of `maxChangePercent` or more, which only damage gives.
constexpr double maxChangePercent = 1e6;
QString changeText(const std::vector<PriceHistory::Point>& points,
                   std::chrono::system_clock::time_point now, const QLocale& locale);
