#include "formatted_price.h"

#include "menubar/price_display_text.h"

QString formattedPrice(double usd, const QLocale& locale) {
    return priceDisplayText(usd, locale);
}
