// What the user reads: the title and the popover's price in every locale, ages, the rows
// of each state, the tooltip, the day's change, and when a price counts as stale.

#include "fetch/price_fetcher.h"
#include "test_support.h"
#include "view/popover_rows.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::system_clock;
const QLocale english(QLocale::English, QLocale::UnitedStates);
const QLocale german(QLocale::German, QLocale::Germany);

TEST(PriceText, titleGroupsWithACommaAndRoundsHalfToEvenInEveryLocale) {
    const std::pair<double, const char*> prices[] = {
        {67432.49, "\u20bf 67,432"}, {1234567.8, "\u20bf 1,234,568"},
        {999.5, "\u20bf 1,000"},     {998.5, "\u20bf 998"},
        {0.4, "\u20bf 0"},           {-1234.5, "\u20bf -1,234"},
        {NAN, "\u20bf 0"},           {INFINITY, "\u20bf 9223372036854775807"}};
    for (const auto& [usd, title] : prices) {
        for (const QLocale& locale : {english, german, QLocale::c()}) {
            EXPECT_EQ(statusItemTitle(BitcoinPrice{usd, {}, "x"}, locale), title) << usd;
        }
    }
    EXPECT_EQ(statusItemTitle(std::nullopt, german), "\u20bf ...");
    EXPECT_EQ(formattedPrice(67432.49, english), "\u20bf 67,432");
    EXPECT_EQ(formattedPrice(67432.49, german), "\u20bf 67.432");
    EXPECT_EQ(truncatedDollarDigits(-1e30), "-9223372036854775808");
}

TEST(PriceText, agesShowTheTwoLargestUnitsAndSaturateAtTheClocksEnds) {
    const std::pair<std::chrono::seconds, const char*> ages[] = {
        {0s, "0 sec"},       {1s, "1 sec"},          {125s, "2 min, 5 sec"},
        {3600s, "1 hr"},     {3780s, "1 hr, 3 min"}, {93600s, "1 day, 2 hr"},
        {259200s, "3 days"}, {-61s, "1 min, 1 sec"}};
    for (const auto& [age, text] : ages) {
        EXPECT_EQ(relativeAge(age), text);
    }
    EXPECT_EQ(ageOf(Clock::time_point::min(), Clock::time_point::max()),
              std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::max()));
    EXPECT_EQ(ageOf(Clock::time_point::max(), Clock::time_point::min()),
              std::chrono::duration_cast<std::chrono::seconds>(Clock::duration::min()));
}

TEST(PopoverRows, showThePriceBlockTheFailureOrBothAsTheStateHasThem) {
    const auto now = Clock::now();
    const BitcoinPrice price{67432.49, now - 125s, "kraken"};
    using Kind = PopoverRow::Kind;
    const auto kinds = [&](const TickerState& state) {
        std::vector<Kind> kinds;
        for (const PopoverRow& row : popoverRows(state, now, german)) {
            kinds.push_back(row.kind);
        }
        return kinds;
    };
    EXPECT_EQ(kinds({}), (std::vector{Kind::fetching, Kind::divider}));
    EXPECT_EQ(kinds({{}, "failed"}),
              (std::vector{Kind::fetching, Kind::divider, Kind::error, Kind::divider}));
    EXPECT_EQ(kinds({price, "failed", false, "+1.0 % in 24 h"}),
              (std::vector{Kind::price, Kind::caption, Kind::change, Kind::divider, Kind::source,
                           Kind::updated, Kind::divider, Kind::error, Kind::divider}));
    EXPECT_EQ(popoverTextLines(popoverRows({price, "failed\nline"}, now, german)),
              (QStringList{"\u20bf 67.432", "\u20bf \u2192 USD", "Source: kraken",
                           "Updated: 2 min, 5 sec", "failed\nline"}));
}

TEST(PopoverRows, theTooltipTellsTheTimeOfTheQuoteAndSinceWhenItIsStale) {
    const QDateTime noon(QDate(2026, 12, 7), QTime(12, 0));
    const auto at = [](const QDateTime& time) {
        return Clock::time_point(std::chrono::milliseconds(time.toMSecsSinceEpoch()));
    };
    const BitcoinPrice price{1, at(noon.addSecs(-3 * 3600 - 4 * 60)), "x"};
    const QLocale c = QLocale::c();
    EXPECT_EQ(toolTipLines({price}, at(noon), c),
              (QStringList{"\u20bf \u2192 USD", "Source: x", "Updated: 08:56"}));
    EXPECT_EQ(toolTipLines({price, {}, true}, at(noon.addDays(2)), c).last(),
              "Unchanged since " + c.toString(noon.date(), QLocale::ShortFormat) + " 08:56");
    // A failure in its one short line, in the tooltip and the menu; the popover keeps it whole.
    const QString failure = "All providers failed. " + QString("x: error | ").repeated(9);
    const TickerState failed{price, failure, true, "", "No price service answered: HTTP 500 (5)"};
    EXPECT_EQ(toolTipLines(failed, at(noon), c, true),
              (QStringList{"₿ 1", "₿ → USD", "Source: x", "Unchanged since 08:56",
                           "No price service answered: HTTP 500 (5)"}));
    EXPECT_EQ(menuLines(failed, at(noon), c).last(), "No price service answered: HTTP 500 (5)");
    EXPECT_EQ(popoverTextLines(popoverRows(failed, at(noon), c)).last(), failure);
    EXPECT_EQ(menuLines({{}, failure}, at(noon), c).last(), failure.left(79) + QChar(0x2026));
}

TEST(ChangeText, comparesTheDaysFirstPointWithTheNewestOnceAnHourIsRecorded) {
    const auto now = Clock::now();
    const QLocale c = QLocale::c();
    const auto since = [&](Clock::time_point time) {
        return quoteTime(time, now, c);
    };
    EXPECT_EQ(changeText({}, now, c), "");
    EXPECT_EQ(changeText({{now - 59min, 100}, {now, 200}}, now, c), "");
    EXPECT_EQ(changeText({{now - 30h, 1}, {now - 24h + 5min, 100}, {now, 102.3}}, now, c),
              "+2.3 % in 24 h");
    EXPECT_EQ(changeText({{now - 24h + 20min, 100}, {now, 102.3}}, now, c),
              "+2.3 % since " + since(now - 24h + 20min));
    EXPECT_EQ(changeText({{now - 5h, 100}, {now - 2h, 120}, {now, 99.2}}, now, c),
              "\u22120.8 % since " + since(now - 5h));
    EXPECT_EQ(changeText({{now - 2h, 100}, {now, 100.04}}, now, c),
              "0.0 % since " + since(now - 2h));
    EXPECT_EQ(changeText({{now - 2h, 1e-300}, {now, 100}}, now, c), ""); // damage
    EXPECT_EQ(changeText({{now - 2h, 100}, {now, 101.5}}, now, german),
              "+1,5 % since " + quoteTime(now - 2h, now, german));
}

TEST(LocalFeed, aPriceIsStaleAfterTwoIntervalsOrWhileTheLastPassFailed) {
    EXPECT_EQ(LocalFeed::staleAge(30), 60s);
    EXPECT_EQ(LocalFeed::staleAge(0), 10s);
    EXPECT_EQ(LocalFeed::staleAge(NAN), 120s);
    struct Failing : PriceProvider {
        const std::string& name() const override { return name_; }
        std::expected<BitcoinPrice, PriceError> fetchPrice() const override {
            return std::unexpected(PriceError::timeout());
        }
        std::string name_ = "f";
    };
    QTemporaryDir dir;
    const SettingsFile settings(dir.filePath("settings.conf"));
    const auto stored = Clock::now();
    LastPriceCache(settings).store({1, stored, "x"});
    auto now = stored + 9500ms; // fresh for another moment
    PriceFetcher fetcher({std::make_shared<Failing>()}, LastPriceCache(settings));
    LocalFeed feed(fetcher, 0.2, QLocale::c(), [&] { return now; });
    QCoreApplication::processEvents(); // the restored price's own notice
    QSignalSpy changed(&feed, &TickerFeed::changed);
    EXPECT_FALSE(feed.state().stale);
    // The feed says so when the price turns stale with time alone, without a pass.
    ASSERT_TRUE(eventually([&] { return !changed.isEmpty(); }));
    now = stored + 12s;
    EXPECT_TRUE(feed.state().stale);
    now = stored;
    EXPECT_FALSE(feed.state().stale);
    fetcher.fetchOnce();
    ASSERT_TRUE(eventually([&] { return fetcher.lastError().has_value(); }));
    EXPECT_TRUE(feed.state().stale);
}

} // namespace
