#include "popover_rows.h"

namespace {

PopoverRow divider() {
    return {PopoverRow::Kind::divider, {}, {}};
}

// The pair the price is of, "₿ → USD".
QString caption(const Currency& currency) {
    return QStringLiteral("\u20BF \u2192 ") + QString::fromLatin1(currency.code);
}

// The rows with the failure as its one-line summary: the whole failure text, five
// providers' generic sentences, is for the popover, which has room to wrap it.
std::vector<PopoverRow> summarizedRows(const TickerState& state,
                                       std::chrono::system_clock::time_point now,
                                       const QLocale& locale) {
    std::vector<PopoverRow> rows = popoverRows(state, now, locale);
    for (PopoverRow& row : rows) {
        if (row.kind == PopoverRow::Kind::error && !state.failureSummary.isEmpty()) {
            row.text = state.failureSummary;
        }
    }
    return rows;
}

} // namespace

std::vector<PopoverRow> popoverRows(const TickerState& state,
                                    std::chrono::system_clock::time_point now,
                                    const QLocale& locale) {
    std::vector<PopoverRow> rows;
    if (const auto& price = state.latestPrice) {
        rows.push_back({PopoverRow::Kind::price, formattedPrice(price->usd, locale), {}});
        rows.push_back({PopoverRow::Kind::caption, caption(state.currency), {}});
        if (!state.change.isEmpty()) {
            rows.push_back({PopoverRow::Kind::change, state.change, {}});
        }
        rows.push_back(divider());
        rows.push_back({PopoverRow::Kind::source, QStringLiteral("Source"),
                        QString::fromStdString(price->source)});
        rows.push_back({PopoverRow::Kind::updated, QStringLiteral("Updated"),
                        relativeAge(ageOf(price->timestamp, now))});
    } else {
        rows.push_back({PopoverRow::Kind::fetching, QStringLiteral("Fetching..."), {}});
    }
    rows.push_back(divider());
    if (state.lastError) {
        rows.push_back({PopoverRow::Kind::error, *state.lastError, {}});
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

QStringList menuLines(const TickerState& state, std::chrono::system_clock::time_point now,
                      const QLocale& locale) {
    constexpr qsizetype longest = 80;
    QStringList lines = popoverTextLines(summarizedRows(state, now, locale));
    for (QString& line : lines) {
        if (line.size() > longest) {
            line = line.left(longest - 1) + QChar(0x2026);
        }
    }
    return lines;
}

QStringList toolTipLines(const TickerState& state, std::chrono::system_clock::time_point now,
                         const QLocale& locale, bool withPrice) {
    QStringList lines;
    for (const PopoverRow& row : summarizedRows(state, now, locale)) {
        if ((row.kind == PopoverRow::Kind::price && !withPrice) ||
            row.kind == PopoverRow::Kind::divider) {
            continue;
        }
        if (row.kind == PopoverRow::Kind::updated) {
            const QString at = quoteTime(state.latestPrice->timestamp, now, locale);
            lines.append(state.stale ? QStringLiteral("Unchanged since ") + at
                                     : QStringLiteral("Updated: ") + at);
        } else {
            lines.append(popoverTextLines({row}));
        }
    }
    return lines;
}
