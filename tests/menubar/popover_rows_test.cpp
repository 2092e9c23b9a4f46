#include "view/popover_rows.h"
#include "qt_printers.h"

#include <QLocale>
#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <ostream>
#include <vector>

void PrintTo(const PopoverRow& row, std::ostream* out) {
    *out << "{kind " << static_cast<int>(row.kind) << ", \"" << row.text.toStdString() << "\", \""
         << row.value.toStdString() << "\"}";
}

namespace {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Clock = std::chrono::system_clock;
using Kind = PopoverRow::Kind;

const QLocale enUS(QLocale::English, QLocale::UnitedStates);
const Clock::time_point now{std::chrono::seconds{1'700'000'000}};
const BitcoinPrice price{67432.49, now - 125s, "coinbase"};
const QString failure = u"All providers failed. mempool.space: timed out\n"
                        "coinbase: bad status 503\nkraken: no price\nblockchain.info: x"_s;

const PopoverRow divider{Kind::divider, {}, {}};
const PopoverRow fetching{Kind::fetching, u"Fetching..."_s, {}};
const PopoverRow error{Kind::error, failure, {}};
const std::vector<PopoverRow> priceBlock{
    {Kind::price, u"₿ 67,432"_s, {}},
    {Kind::caption, u"₿ → USD"_s, {}},
    divider,
    {Kind::source, u"Source"_s, u"coinbase"_s},
    {Kind::updated, u"Updated"_s, u"2 min, 5 sec"_s},
    divider,
};

std::vector<PopoverRow> followedBy(std::vector<PopoverRow> rows,
                                   const std::vector<PopoverRow>& more) {
    rows.insert(rows.end(), more.begin(), more.end());
    return rows;
}

struct StateCase {
    const char* name;
    std::optional<BitcoinPrice> latestPrice;
    std::optional<QString> lastError;
    std::vector<PopoverRow> rows;
    QStringList lines;
};

const StateCase stateCases[] = {
    {"no price, no error", std::nullopt, std::nullopt, {fetching, divider}, {u"Fetching..."_s}},
    {"no price, an error",
     std::nullopt,
     failure,
     {fetching, divider, error, divider},
     {u"Fetching..."_s, failure}},
    {"a price, no error",
     price,
     std::nullopt,
     priceBlock,
     {u"₿ 67,432"_s, u"₿ → USD"_s, u"Source: coinbase"_s, u"Updated: 2 min, 5 sec"_s}},
    {"a price and an error",
     price,
     failure,
     followedBy(priceBlock, {error, divider}),
     {u"₿ 67,432"_s, u"₿ → USD"_s, u"Source: coinbase"_s, u"Updated: 2 min, 5 sec"_s,
      failure}},
};

TEST(PopoverRowsTest, rowsAndTextLinesForEachState) {
    for (const auto& [name, latestPrice, lastError, rows, lines] : stateCases) {
        SCOPED_TRACE(name);
        const auto built = popoverRows(latestPrice, lastError, now, enUS);
        EXPECT_EQ(built, rows);
        EXPECT_EQ(popoverTextLines(built), lines);
    }
}

// An empty failure text is still a failure: its block shows.
TEST(PopoverRowsTest, emptyErrorTextStillShowsTheErrorBlock) {
    const auto rows = popoverRows(std::nullopt, QString(), now, enUS);
    const std::vector<PopoverRow> expected{fetching, divider, {Kind::error, {}, {}}, divider};
    EXPECT_EQ(rows, expected);
}

TEST(PopoverRowsTest, priceFollowsTheLocaleAndSourceIsVerbatim) {
    const BitcoinPrice quote{1234567.8, now, "caf\xC3\xA9 <b>&amp;"};
    const auto rows =
        popoverRows(quote, std::nullopt, now, QLocale(QLocale::German, QLocale::Germany));
    ASSERT_EQ(rows.size(), 6u);
    EXPECT_EQ(rows[0], (PopoverRow{Kind::price, u"₿ 1.234.568"_s, {}}));
    EXPECT_EQ(rows[3], (PopoverRow{Kind::source, u"Source"_s, u"café <b>&amp;"_s}));
    EXPECT_EQ(rows[4], (PopoverRow{Kind::updated, u"Updated"_s, u"0 sec"_s}));
}

QString updatedValue(Clock::time_point timestamp, Clock::time_point at,
                     AgeGranularity granularity = AgeGranularity::seconds) {
    const BitcoinPrice quote{67432.49, timestamp, "kraken"};
    const auto rows = popoverRows(quote, std::nullopt, at, enUS, granularity);
    for (const PopoverRow& row : rows) {
        if (row.kind == Kind::updated) {
            return row.value;
        }
    }
    ADD_FAILURE() << "no updated row";
    return {};
}

TEST(PopoverRowsTest, ageIsMeasuredFromTheTimestampToNow) {
    const struct {
        Clock::time_point timestamp;
        Clock::time_point at;
        AgeGranularity granularity;
        QString age;
    } cases[] = {
        {now - 125s, now, AgeGranularity::seconds, u"2 min, 5 sec"_s},
        {now - 125s, now, AgeGranularity::minutes, u"2 min"_s},
        {now - 30s, now, AgeGranularity::minutes, u"less than 1 min"_s},
        // Part-seconds are dropped.
        {now - 59999ms, now, AgeGranularity::seconds, u"59 sec"_s},
        {now - 90000s, now, AgeGranularity::seconds, u"1 day, 1 hr"_s},
        // A timestamp ahead of the clock.
        {now + 5s, now, AgeGranularity::seconds, u"5 sec"_s},
        // Differences beyond the clock's range saturate instead of overflowing.
        {Clock::time_point::min(), now, AgeGranularity::seconds, u"106751 days, 23 hr"_s},
        {Clock::time_point::max(), Clock::time_point::min(), AgeGranularity::seconds,
         u"106751 days, 23 hr"_s},
    };
    for (const auto& [timestamp, at, granularity, age] : cases) {
        SCOPED_TRACE(age.toStdString());
        EXPECT_EQ(updatedValue(timestamp, at, granularity), age);
    }
}

} // namespace
