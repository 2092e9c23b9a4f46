#pragma once

#include "view/price_text.h"
#include "view/ticker_feed.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <chrono>
#include <vector>

// One row of the popover between its top padding and its buttons.
struct PopoverRow {
    enum class Kind { price, caption, change, divider, source, updated, fetching, error };
    Kind kind;
    QString text;  // price text, caption, change, "Fetching...", error text; the label
                   // "Source"/"Updated"
    QString value; // the source name / the age, for source and updated rows
    bool operator==(const PopoverRow&) const = default;
};

// The rows for a state: the price block (or "Fetching..." while there is no price), the
// day's change under the caption once there is one, the error block when there is a
// failure text, each closed by a divider. The error text is carried whole; cutting it to
// fit is the widget's business.
std::vector<PopoverRow> popoverRows(const TickerState& state,
                                    std::chrono::system_clock::time_point now,
                                    const QLocale& locale);

// The rows as plain text lines for menus and status bars: dividers dropped, the source
// and age rows as "Label: value", every other row as its text.
QStringList popoverTextLines(const std::vector<PopoverRow>& rows);

// The lines of a menu's information entries: the rows as text, the failure as its one-line
// summary; a line still longer than 80 characters is cut with an ellipsis, as a menu as
// wide as the screen helps nobody.
QStringList menuLines(const TickerState& state, std::chrono::system_clock::time_point now,
                      const QLocale& locale);

// The lines of a tooltip, which stays up unchanged while shown: the rows as text, the
// failure as its summary, the time of the quote ("Updated: 14:03", with the date when it is
// not today) instead of its age, and while the price is stale, since when it is unchanged
// ("Unchanged since 14:03"). The large price is left out unless `withPrice`: a tooltip with
// a title of its own shows it there.
QStringList toolTipLines(const TickerState& state, std::chrono::system_clock::time_point now,
                         const QLocale& locale, bool withPrice = false);
