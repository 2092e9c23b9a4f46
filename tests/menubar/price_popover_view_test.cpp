#include "menubar/line_limited_text.h"
#include "menubar/price_popover_view.h"
#include "scripted_provider.h"
#include "temp_dir.h"

#include <QImage>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;

struct Popover {
    std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>("coinbase");
    PriceFetcher fetcher{PriceFetcher::Providers{provider}, std::nullopt};
    std::chrono::system_clock::duration offset{0};
    PricePopoverView view{fetcher, QLocale(QLocale::English, QLocale::UnitedStates), [this] {
                              return now();
                          }};

    std::chrono::system_clock::time_point now() const {
        const auto& price = fetcher.latestPrice();
        return (price ? price->timestamp : std::chrono::system_clock::time_point{}) + offset;
    }
    void pass() {
        const auto future = fetcher.fetchOnce();
        ASSERT_TRUE(QTest::qWaitFor([&] { return future.isFinished(); }, 5000));
        QCoreApplication::processEvents();
    }
    // The rows on screen, top to bottom, as "name" or "name: text [| value]".
    QStringList shown() const {
        QStringList rows;
        const auto* layout = view.layout()->itemAt(0)->layout();
        for (int i = 0; i < layout->count(); ++i) {
            const QWidget* widget = layout->itemAt(i)->widget();
            QString row = widget->objectName();
            const auto labels = widget->findChildren<QLabel*>();
            if (const auto* label = qobject_cast<const QLabel*>(widget)) {
                row += ": " + label->text();
            } else if (labels.size() == 2) {
                row += ": " + labels[0]->text() + " | " + labels[1]->text();
            }
            rows << row;
        }
        return rows;
    }
};

TEST(PricePopoverViewTest, showsEveryStateOfThePriceAndTheFailure) {
    Popover popover;
    popover.provider->thenFail(PriceError::timeout())
        .thenAnswer(67432.49)
        .thenFail(PriceError::timeout());
    EXPECT_EQ(popover.shown(), (QStringList{"fetching: Fetching...", "divider"}));

    popover.pass();
    const QString shortError = popover.view.findChild<QLabel*>("error")->text();
    EXPECT_EQ(popover.shown(),
              (QStringList{"fetching: Fetching...", "divider", "error: " + shortError, "divider"}));

    popover.pass();
    EXPECT_EQ(popover.shown(),
              (QStringList{"price: \u20bf 67,432", "caption: \u20bf \u2192 USD", "divider",
                           "source: Source | coinbase", "updated: Updated | 0 sec", "divider"}));

    popover.pass();
    EXPECT_EQ(popover.shown(),
              (QStringList{"price: \u20bf 67,432", "caption: \u20bf \u2192 USD", "divider",
                           "source: Source | coinbase", "updated: Updated | 0 sec", "divider",
                           "error: " + shortError, "divider"}));
    EXPECT_EQ(popover.view.findChild<QLabel*>("error")->toolTip(),
              "All providers failed. coinbase: The operation couldn\u2019t be completed. "
              "(Brimwell_Ticker.PriceError error 3.)");
}

TEST(PricePopoverViewTest, isTwoHundredSixtyWideWithItsButtonsEnabled) {
    Popover popover;
    popover.view.showAt(QPoint(400, 30));
    EXPECT_EQ(popover.view.width(), 260);
    EXPECT_TRUE(popover.view.isVisible());
    EXPECT_TRUE(popover.view.findChild<QPushButton*>("refresh")->isEnabled());
    EXPECT_TRUE(popover.view.findChild<QPushButton*>("quit")->isEnabled());
    // Near the screen's right edge it stays on the screen.
    popover.view.showAt(QPoint(100000, 30));
    const QRect screen = popover.view.screen()->availableGeometry();
    EXPECT_LE(popover.view.geometry().right(), screen.right());
}

TEST(PricePopoverViewTest, theAgeMovesOnWhileShownAndOnlyThen) {
    Popover popover;
    popover.provider->thenAnswer(67000);
    popover.pass();
    popover.offset = 5s;
    QTest::qWait(1200);
    EXPECT_TRUE(popover.shown().contains("updated: Updated | 0 sec")) << "hidden, yet updated";

    popover.view.showAt(QPoint(200, 20));
    popover.offset = 125s;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return popover.shown().contains("updated: Updated | 2 min, 5 sec"); }, 2500));
    EXPECT_EQ(popover.provider->calls(), 1);
}

TEST(PricePopoverViewTest, refreshStartsAPassEvenWhileOneRuns) {
    Popover popover;
    popover.provider->then({1.0, true});
    popover.view.showAt(QPoint(200, 20));
    popover.fetcher.fetchOnce();
    auto* refresh = popover.view.findChild<QPushButton*>("refresh");
    refresh->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover.provider->calls() == 2; }, 5000));
    EXPECT_TRUE(refresh->isEnabled());
    popover.provider->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !popover.fetcher.isFetching(); }, 5000));
}

TEST(PricePopoverViewTest, quitIsAskedFor) {
    Popover popover;
    QSignalSpy quit(&popover.view, &PricePopoverView::quitRequested);
    popover.view.findChild<QPushButton*>("quit")->click();
    EXPECT_EQ(quit.count(), 1);
}

TEST(PricePopoverViewTest, grabsToAPicture) {
    Popover popover;
    popover.provider->thenAnswer(67432.49).thenFail(PriceError::timeout());
    popover.pass();
    popover.pass();
    popover.view.showAt(QPoint(200, 20));
    TempDir dir;
    // BRIMWELL_SCREENSHOT_DIR keeps the picture (the README's comes from here).
    const QString kept = qEnvironmentVariable("BRIMWELL_SCREENSHOT_DIR");
    const QString path = kept.isEmpty()
                             ? QString::fromStdString((dir.path() / "popover.png").string())
                             : kept + "/popover.png";
    ASSERT_TRUE(popover.view.grab().save(path));
    const QImage image(path);
    EXPECT_EQ(image.width(), static_cast<int>(260 * popover.view.devicePixelRatioF()));
    EXPECT_GT(image.height(), 100);
    // The failure is drawn in red somewhere.
    bool red = false;
    for (int y = 0; y < image.height() && !red; ++y) {
        for (int x = 0; x < image.width() && !red; ++x) {
            const QColor pixel = image.pixelColor(x, y);
            red = pixel.red() > 200 && pixel.green() < 80 && pixel.blue() < 80;
        }
    }
    EXPECT_TRUE(red);
}

TEST(LineLimitedTextTest, cutsToTheLineLimitWithAnEllipsis) {
    const QFont font;
    EXPECT_EQ(lineLimitedText("short", font, 228, 3), "short");
    const QString longText = QString("word ").repeated(200).trimmed();
    const QString cut = lineLimitedText(longText, font, 228, 3);
    EXPECT_EQ(cut.count('\n'), 2);
    EXPECT_TRUE(cut.endsWith(QChar(0x2026))) << cut.toStdString();
    EXPECT_EQ(lineLimitedText("one\ntwo\nthree\nfour", font, 228, 3).split('\n').size(), 3);
    EXPECT_EQ(lineLimitedText("one\ntwo", font, 228, 3), "one\ntwo");
    EXPECT_EQ(lineLimitedText("anything", font, 228, 0), "");
}

} // namespace
