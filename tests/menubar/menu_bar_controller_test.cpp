#include "fetch/last_price_cache.h"
#include "menubar/menu_bar_controller.h"
#include "scripted_provider.h"
#include "temp_dir.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

// Records what the controller shows on the item; the real D-Bus item has its own tests.
class RecordingItem : public StatusItem {
public:
    QStringList titles;
    QStringList lastRows;
    void setTitle(const QString& title) override { titles << title; }
    void setDetails(const QString&, const QStringList& rows) override { lastRows = rows; }
};

struct Controlled {
    TempDir dir;
    SettingsFile settings{QString::fromStdString((dir.path() / "settings.conf").string())};
    std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>("coinbase");
    RecordingItem* item = nullptr;
    std::unique_ptr<MenuBarController> controller;

    void build(double interval = 3600) {
        controller = std::make_unique<MenuBarController>(MenuBarController::Parts{
            PriceFetcher::Providers{provider}, LastPriceCache(settings), interval,
            [this] {
                auto made = std::make_unique<RecordingItem>();
                item = made.get();
                return made;
            },
            QLocale(QLocale::German, QLocale::Germany),
            [] {
                return std::chrono::system_clock::now();
            }});
    }
    bool waitForTitles(int count) {
        return QTest::qWaitFor([&] { return item->titles.size() >= count; }, 5000);
    }
};

TEST(MenuBarControllerTest, titleStartsAsThePlaceholderAndFollowsThePrice) {
    Controlled c;
    c.provider->then({67432.49, true});
    c.build();
    EXPECT_EQ(c.item->titles, QStringList{"\u20bf ..."});
    ASSERT_TRUE(c.waitForTitles(2)); // the current value, delivered on a later turn
    EXPECT_EQ(c.item->titles[1], "\u20bf ...");
    c.provider->release();
    ASSERT_TRUE(c.waitForTitles(3));
    EXPECT_EQ(c.item->titles[2], "\u20bf 67,432") << "a comma whatever the locale";
}

TEST(MenuBarControllerTest, storedPriceShowsOnALaterTurnBeforeAnyAnswer) {
    Controlled c;
    LastPriceCache(c.settings).store({1234567.8, BitcoinPrice::Clock::now(), "kraken"});
    c.provider->then({1.0, true});
    c.build();
    EXPECT_EQ(c.item->titles, QStringList{"\u20bf ..."}) << "not synchronously";
    ASSERT_TRUE(c.waitForTitles(2));
    EXPECT_EQ(c.item->titles[1], "\u20bf 1,234,568");
    EXPECT_TRUE(QTest::qWaitFor([&] { return c.provider->calls() == 1; }, 5000))
        << "polling started";
    c.provider->release();
}

TEST(MenuBarControllerTest, samePriceTwiceRewritesTheTitleTwice) {
    Controlled c;
    c.provider->thenAnswer(67000);
    c.build();
    ASSERT_TRUE(c.waitForTitles(3));
    emit c.item->refreshRequested();
    ASSERT_TRUE(c.waitForTitles(4));
    EXPECT_EQ(c.item->titles[2], c.item->titles[3]);
    EXPECT_EQ(c.provider->calls(), 2);
}

TEST(MenuBarControllerTest, detailsFollowTheFetcher) {
    Controlled c;
    c.provider->thenAnswer(67000).thenFail(PriceError::timeout());
    c.build();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return c.item->lastRows.contains("Source: coinbase"); }, 5000));
    EXPECT_EQ(c.item->lastRows.first(), "\u20bf 67.000") << "the locale's own grouping";
    emit c.item->refreshRequested();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return c.item->lastRows.last().startsWith("All providers failed. "); }, 5000));
}

TEST(MenuBarControllerTest, aClickTogglesThePopoverAndQuitIsPassedOn) {
    Controlled c;
    c.build();
    emit c.item->toggleRequested(QPoint(300, 24));
    EXPECT_TRUE(c.controller->popover().isVisible());
    emit c.item->toggleRequested(QPoint(300, 24));
    EXPECT_FALSE(c.controller->popover().isVisible());
    // The click that closed a popup outside it arrives as a toggle right after: it must
    // not open it again.
    c.controller->popover().showAt(QPoint(300, 24));
    c.controller->popover().close();
    emit c.item->toggleRequested(QPoint(300, 24));
    EXPECT_FALSE(c.controller->popover().isVisible());
    QTest::qWait(400);
    emit c.item->toggleRequested(QPoint(300, 24));
    EXPECT_TRUE(c.controller->popover().isVisible());

    QSignalSpy quit(c.controller.get(), &MenuBarController::quitRequested);
    emit c.item->quitRequested();
    c.controller->popover().findChild<QPushButton*>("quit")->click();
    EXPECT_EQ(quit.count(), 2);
}

} // namespace
