// The popover as the GUI program shows it, on Qt's offscreen platform.

#include "panel/price_popover_view.h"
#include "test_support.h"

#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::system_clock;

QString label(const QWidget& view, const char* name, int index = 0) {
    const QWidget* row = view.findChild<QWidget*>(name);
    if (!row) {
        return "(none)";
    }
    if (const auto* single = qobject_cast<const QLabel*>(row)) {
        return single->text();
    }
    return row->findChildren<QLabel*>().value(index)->text();
}

TEST(Popover, showsTheFeedsStateAndItsAgeMovesOnWhileOpen) {
    auto now = Clock::now();
    TestFeed feed;
    const QString failure =
        "All providers failed. " + QString("mempool.space: refused | ").repeated(20);
    feed.current = {BitcoinPrice{67432.49, now - 5s, "kraken"}, failure};
    QTemporaryDir dir;
    PricePopoverView view(
        feed, QLocale(QLocale::German), [&] { return now; }, PriceHistory(dir.filePath("history")));
    view.showAt({100, 100});
    EXPECT_EQ(view.width(), 260);
    EXPECT_EQ(label(view, "price"), "\u20bf 67.432");
    EXPECT_EQ(label(view, "caption"), "\u20bf \u2192 USD");
    EXPECT_EQ(label(view, "source", 1), "kraken");
    EXPECT_EQ(label(view, "updated", 1), "5 sec");
    const QString shown = label(view, "error");
    EXPECT_EQ(shown.count('\n'), 2); // three lines, the last one cut
    EXPECT_TRUE(shown.endsWith(QChar(0x2026)));
    EXPECT_EQ(view.findChild<QLabel*>("error")->toolTip(), failure);
    EXPECT_EQ(label(view, "change"), "(none)"); // under an hour of history
    now += 10s;
    EXPECT_TRUE(eventually([&] { return label(view, "updated", 1) == "15 sec"; }));

    feed.set({{}, {}, false, ""});
    EXPECT_EQ(label(view, "fetching"), "Fetching...");
    EXPECT_EQ(label(view, "price"), "(none)");
    QSignalSpy quit(&view, &PricePopoverView::quitRequested);
    view.findChild<QPushButton*>("refresh")->click();
    view.findChild<QPushButton*>("quit")->click();
    EXPECT_EQ(feed.refreshed, 1);
    EXPECT_EQ(quit.size(), 1);
}

TEST(Popover, drawsTheDaysPricesWithGapsWhereNoneWereRecorded) {
    const std::tuple<std::chrono::minutes, std::chrono::minutes, bool> steps[] = {
        {1min, 1min, false},   {4min, 1min, false},   {6min, 1min, true},
        {20min, 10min, false}, {25min, 10min, false}, {31min, 10min, true}};
    for (const auto& [between, usual, gap] : steps) {
        EXPECT_EQ(Sparkline::isGap(between, usual), gap) << between.count();
    }
    const auto now = Clock::now();
    QTemporaryDir dir;
    PriceHistory history(dir.filePath("history"));
    for (int minute = 24 * 60; minute >= 0; minute -= 5) {
        if (minute < 600 || minute > 700) { // the agent did not run for a while
            history.append({65000 + 40 * std::sin(minute / 90.0) + minute,
                            now - std::chrono::minutes(minute), "x"},
                           now);
        }
    }
    TestFeed feed;
    feed.current = {BitcoinPrice{66234, now - 20s, "coinbase"}, {}, false, "+1.9 % in 24 h"};
    PricePopoverView view(
        feed, QLocale::c(), [&] { return now; }, history);
    view.showAt({100, 100});
    EXPECT_EQ(label(view, "change", 0), "+1.9 % in 24 h");
    // Older prices were higher: the line falls from the top left to the bottom right, and
    // where nothing was recorded only the background shows. A column, from the top: '#'
    // where something is drawn.
    const QImage image = view.findChild<Sparkline*>()->grab().toImage();
    const int height = image.height();
    const auto column = [&](int minutesAgo) {
        const int x = 1 + (image.width() - 2) * (24 * 60 - minutesAgo) / (24 * 60);
        QString rows;
        for (int y = 0; y < height; ++y) {
            rows += image.pixel(x, y) == image.pixel(0, height - 1) ? '.' : '#';
        }
        return rows;
    };
    EXPECT_TRUE(column(1380).indexOf('#') >= 0 && column(1380).lastIndexOf('#') < height / 3)
        << column(1380).toStdString();
    EXPECT_GT(column(60).indexOf('#'), height * 2 / 3) << column(60).toStdString();
    for (const int gap : {630, 650, 670}) { // half an hour or more from a point
        EXPECT_EQ(column(gap), QString(height, '.')) << gap;
    }
    if (const QString folder = qEnvironmentVariable("BRIMWELL_SCREENSHOT_DIR"); !folder.isEmpty()) {
        view.grab().save(QDir(folder).filePath("popover.png"));
    }
}

} // namespace
