#include "price_display_text.h"

#include "menubar/truncated_dollar_digits.h"

#include <cmath>

namespace {

std::optional<QString> groupedWholeDollars(double usd, const QLocale& locale,
                                           const std::optional<QString>& groupSeparator) {
    // QLocale writes "inf" and "nan" for these, which are no amount of dollars.
    if (!std::isfinite(usd)) {
        return std::nullopt;
    }
    // QLocale rounds half away from zero; the price rounds half to even.
    const double whole = std::nearbyint(usd);
    // Grouping is always on, even for a locale (such as C) that omits it by default.
    QLocale grouping = locale;
    grouping.setNumberOptions(locale.numberOptions() & ~QLocale::OmitGroupSeparator);
    QString text = grouping.toString(whole, 'f', 0);
    const QString ownSeparator = locale.groupSeparator();
    if (groupSeparator && !ownSeparator.isEmpty()) {
        // The text holds only digits, separators and perhaps a minus sign, so every
        // occurrence of the locale's separator is a group boundary.
        text.replace(ownSeparator, *groupSeparator);
    }
    if (text.isEmpty()) {
        return std::nullopt;
    }
    return text;
}

} // namespace

QString priceDisplayText(double usd, const QLocale& locale,
                         const std::optional<QString>& groupSeparator) {
    const auto grouped = groupedWholeDollars(usd, locale, groupSeparator);
    return QStringLiteral("\u20BF ") + (grouped ? *grouped : truncatedDollarDigits(usd));
}
