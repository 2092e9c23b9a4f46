#include "bar_view.h"

#include "menubar/popover_rows.h"
#include "menubar/relative_age.h"
#include "menubar/status_item_title.h"

BarView BarView::of(const std::optional<BitcoinPrice>& latestPrice,
                    const std::optional<QString>& lastError,
                    std::chrono::system_clock::time_point now, const QLocale& locale) {
    BarView view;
    view.title = statusItemTitle(latestPrice, locale);
    if (latestPrice) {
        view.source = QString::fromStdString(latestPrice->source);
        view.age =
            relativeAge(std::chrono::floor<std::chrono::seconds>(now - latestPrice->timestamp),
                        AgeGranularity::minutes);
    }
    view.failure = lastError;
    view.tooltip =
        popoverTextLines(popoverRows(latestPrice, lastError, now, locale, AgeGranularity::minutes));
    return view;
}
