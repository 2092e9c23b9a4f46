#pragma once

#include "menubar/relative_age.h"
#include "price/bitcoin_price.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

// One row of the popover between its top padding and its buttons.
struct PopoverRow {
    enum class Kind { price, caption, divider, source, updated, fetching, error };
    Kind kind;
    QString text;  // price text, caption, "Fetching...", error text; the label "Source"/"Updated"
    QString value; // the source name / the age, for source and updated rows
    bool operator==(const PopoverRow&) const = default;
};

// The rows for the fetcher's current state: the price block (or "Fetching..." while there
// is no price), the error block when there is a failure text, each closed by a divider.
// The error text is carried whole; cutting it to fit is the widget's business.
std::vector<PopoverRow> popoverRows(const std::optional<BitcoinPrice>& latestPrice,
                                    const std::optional<QString>& lastError,
                                    std::chrono::system_clock::time_point now,
                                    const QLocale& locale,
                                    AgeGranularity granularity = AgeGranularity::seconds);

// The rows as plain text lines for tooltips and status bars: dividers dropped, the source
// and age rows as "Label: value", every other row as its text.
QStringList popoverTextLines(const std::vector<PopoverRow>& rows);
