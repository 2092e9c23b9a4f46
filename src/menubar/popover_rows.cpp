#include "popover_rows.h"

#include "menubar/formatted_price.h"

#include <limits>

namespace {

using Clock = std::chrono::system_clock;

// now - timestamp, saturated: a stored timestamp may lie anywhere on the clock's range,
// and the plain difference of two extreme time points overflows.
std::chrono::seconds ageOf(Clock::time_point timestamp, Clock::time_point now) {
    using Rep = Clock::duration::rep;
    Rep difference = 0;
    if (__builtin_sub_overflow(now.time_since_epoch().count(), timestamp.time_since_epoch().count(),
                               &difference)) {
        difference =
            now > timestamp ? std::numeric_limits<Rep>::max() : std::numeric_limits<Rep>::min();
    }
    return std::chrono::duration_cast<std::chrono::seconds>(Clock::duration{difference});
}

PopoverRow divider() {
    return {PopoverRow::Kind::divider, {}, {}};
}

} // namespace

std::vector<PopoverRow> popoverRows(const std::optional<BitcoinPrice>& latestPrice,
                                    const std::optional<QString>& lastError,
                                    std::chrono::system_clock::time_point now,
                                    const QLocale& locale, AgeGranularity granularity) {
    std::vector<PopoverRow> rows;
    if (latestPrice) {
        rows.push_back({PopoverRow::Kind::price, formattedPrice(latestPrice->usd, locale), {}});
        rows.push_back({PopoverRow::Kind::caption, QStringLiteral("\u20BF \u2192 USD"), {}});
        rows.push_back(divider());
        rows.push_back({PopoverRow::Kind::source, QStringLiteral("Source"),
                        QString::fromStdString(latestPrice->source)});
        rows.push_back({PopoverRow::Kind::updated, QStringLiteral("Updated"),
                        relativeAge(ageOf(latestPrice->timestamp, now), granularity)});
    } else {
        rows.push_back({PopoverRow::Kind::fetching, QStringLiteral("Fetching..."), {}});
    }
    rows.push_back(divider());
    if (lastError) {
        rows.push_back({PopoverRow::Kind::error, *lastError, {}});
        rows.push_back(divider());
    }
    return rows;
}

QStringList popoverTextLines(const std::vector<PopoverRow>& rows) {
    QStringList lines;
    for (const PopoverRow& row : rows) {
        switch (row.kind) {
        case PopoverRow::Kind::divider:
            break;
        case PopoverRow::Kind::source:
        case PopoverRow::Kind::updated:
            lines.append(row.text + QStringLiteral(": ") + row.value);
            break;
        default:
            lines.append(row.text);
            break;
        }
    }
    return lines;
}
