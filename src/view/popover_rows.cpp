#include "popover_rows.h"

namespace {

PopoverRow divider() {
    return {PopoverRow::Kind::divider, {}, {}};
}

} // namespace

std::vector<PopoverRow> popoverRows(const TickerState& state,
                                    std::chrono::system_clock::time_point now,
                                    const QLocale& locale, AgeGranularity granularity) {
    std::vector<PopoverRow> rows;
    if (const auto& price = state.latestPrice) {
        rows.push_back({PopoverRow::Kind::price, formattedPrice(price->usd, locale), {}});
        rows.push_back({PopoverRow::Kind::caption, QStringLiteral("\u20BF \u2192 USD"), {}});
        if (!state.change.isEmpty()) {
            rows.push_back({PopoverRow::Kind::change, state.change, {}});
        }
        rows.push_back(divider());
        rows.push_back({PopoverRow::Kind::source, QStringLiteral("Source"),
                        QString::fromStdString(price->source)});
        rows.push_back({PopoverRow::Kind::updated, QStringLiteral("Updated"),
                        relativeAge(ageOf(price->timestamp, now), granularity)});
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
    QStringList lines = popoverTextLines(popoverRows(state, now, locale));
    for (QString& line : lines) {
        if (line.size() > longest) {
            line = line.left(longest - 1) + QChar(0x2026);
        }
    }
    return lines;
}

QStringList toolTipLines(const TickerState& state, std::chrono::system_clock::time_point now,
                         const QLocale& locale) {
    QStringList lines;
    for (const PopoverRow& row : popoverRows(state, now, locale)) {
        if (row.kind == PopoverRow::Kind::price || row.kind == PopoverRow::Kind::divider) {
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
