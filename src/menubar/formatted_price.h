#pragma once

#include <QLocale>
#include <QString>

// The popover's large price, "₿ 67,432" in en_US and "₿ 67.432" in de_DE: whole dollars
// grouped with the locale's own separator.
QString formattedPrice(double usd, const QLocale& locale);
