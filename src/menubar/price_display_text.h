#pragma once

#include <QLocale>
#include <QString>

#include <optional>

// "₿ " followed by the dollar value rounded half to even to whole dollars, in decimal
// style with grouping: group sizes, digit shapes and minus sign from `locale`, the group
// separator from `locale` too unless `groupSeparator` replaces it. A value the locale
// cannot write as digits (infinite or NaN) falls back to truncatedDollarDigits.
QString priceDisplayText(double usd, const QLocale& locale,
                         const std::optional<QString>& groupSeparator = std::nullopt);
