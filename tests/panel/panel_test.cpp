// The popover as the GUI program shows it, on Qt's offscreen platform.

#include "panel/popover_placement.h"
#include "panel/price_popover_view.h"
#include "test_support.h"

#include <QApplication>
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
}

TEST(Popover, opensNextToTheItemAndCoversNoPanel) {
    const QRect screen(0, 0, 1280, 800), second(1280, 0, 1920, 1080);
    const std::tuple<const char*, QPoint, QRect, QPoint> cases[] = {
        {"top", {600, 15}, {0, 30, 1280, 770}, {470, 34}},
        {"top, item at the right edge", {1270, 15}, {0, 30, 1280, 770}, {1016, 34}},
        {"top, item at the left edge", {10, 15}, {0, 30, 1280, 770}, {4, 34}},
        {"bottom", {600, 780}, {0, 0, 1280, 756}, {470, 452}},
        {"left", {20, 400}, {48, 0, 1232, 800}, {52, 250}},
        {"left, item at the bottom", {20, 790}, {48, 0, 1232, 800}, {52, 496}},
        {"right", {1260, 400}, {0, 0, 1232, 800}, {968, 250}},
        {"none known, upper half", {600, 15}, screen, {470, 19}},
        {"none known, lower half", {600, 790}, screen, {470, 486}},
        {"top, work area lower than the popover", {600, 15}, {0, 30, 1280, 200}, {470, 34}},
        {"bottom of a second screen", {1290, 1060}, {1280, 0, 1920, 1040}, {1284, 736}}};
    for (const auto& [panel, anchor, available, expected] : cases) {
        const QRect& on = screen.contains(anchor) ? screen : second;
        EXPECT_EQ(popoverPosition(anchor, {260, 300}, on, available, 4), expected) << panel;
    }
}

// A desktop portal's settings with only the colour scheme.
class TestPortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    std::optional<uint> colorScheme; // nullopt: Read never answers

public slots:
    Q_SCRIPTABLE QDBusVariant Read(const QString& group, const QString& key,
                                   const QDBusMessage& message) {
        message.setDelayedReply(!colorScheme ||
                                group + "." + key != "org.freedesktop.appearance.color-scheme");
        // The portal wraps the setting's variant in a second one.
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme.value_or(0))));
    }

signals:
    Q_SCRIPTABLE void SettingChanged(const QString& group, const QString& key,
                                     const QDBusVariant& value);
};

// The contrast ratio of two opaque colours, 1 to 21.
double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& colour) {
        const auto linear = [](double c) {
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
               0.0722 * linear(colour.blueF());
    };
    const auto [low, high] = std::minmax({luminance(a), luminance(b)});
    return (high + 0.05) / (low + 0.05);
}

TEST(Popover, followsTheDesktopsColourSchemeWithEveryTextLegible) {
    // Qt's palette on Plasma with Breeze Dark keeps the light palette's placeholder grey.
    QPalette breezeDark(QColor(0x31, 0x36, 0x3b), QColor(0x2a, 0x2e, 0x32));
    breezeDark.setColor(QPalette::WindowText, QColor(0xfc, 0xfc, 0xfc));
    breezeDark.setColor(QPalette::PlaceholderText, QColor(0, 0, 0, 128));
    const QPalette platform = QApplication::palette();
    PrivateBus bus;
    QDBusConnection desktop = bus.connect("portal");
    TestPortal portal;
    desktop.registerObject("/org/freedesktop/portal/desktop", &portal,
                           QDBusConnection::ExportScriptableContents);
    const auto none = std::nullopt;
    // Platform palette dark, a portal runs, its answer (none: never), the popover dark.
    const std::tuple<bool, bool, std::optional<uint>, bool> cases[] = {
        {false, false, none, false}, {true, false, none, true}, {false, true, 1, true},
        {true, true, 2, false},      {true, true, 0, true},     {false, true, none, false}};
    TestFeed feed;
    feed.current = {BitcoinPrice{67432.49, Clock::now(), "kraken"}, "All providers failed."};
    QTemporaryDir dir;
    int name = 0;
    for (const auto& [darkPlatform, portalRuns, answer, dark] : cases) {
        QApplication::setPalette(darkPlatform ? breezeDark : platform);
        if (portalRuns) {
            desktop.registerService("org.freedesktop.portal.Desktop");
        }
        portal.colorScheme = answer;
        DesktopColorScheme scheme(bus.connect(QString("popover%1").arg(++name)), 300ms);
        ASSERT_TRUE(eventually([&] { return scheme.settled(); })) << name;
        PricePopoverView view(feed, QLocale::c(), Clock::now, PriceHistory(dir.filePath("h")));
        view.setColorScheme(scheme.preference());
        const QColor window = view.palette().color(QPalette::Window);
        EXPECT_EQ(window.lightness() < 128, dark) << name;
        for (const QLabel* label : view.findChildren<QLabel*>()) {
            const QColor text = label->palette().color(label->foregroundRole());
            EXPECT_TRUE(text.alpha() == 255 && contrast(text, window) >= 4.5)
                << name << " " << label->text().toStdString();
        }
    }
    // A change while shown takes effect at once.
    DesktopColorScheme scheme(bus.connect("popover"), 300ms);
    ASSERT_TRUE(eventually([&] { return scheme.settled(); }));
    emit portal.SettingChanged("org.freedesktop.appearance", "color-scheme", QDBusVariant(1u));
    EXPECT_TRUE(eventually([&] { return scheme.preference() == ColorScheme::dark; }));
    QApplication::setPalette(platform);
}

} // namespace

#include "panel_test.moc"
