#include "status_item_title.h"

#include "menubar/price_display_text.h"

QString statusItemTitle(const std::optional<BitcoinPrice>& price, const QLocale& locale) {
    if (!price) {
        return QStringLiteral("\u20BF ...");
    }
    return priceDisplayText(price->usd, locale, QStringLiteral(","));
}
