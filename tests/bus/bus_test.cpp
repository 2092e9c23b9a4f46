// What the program says on a real (private) session bus: the StatusNotifierItem and its
// menu as panel hosts read them, org.brimwell.Ticker1 as the popover, bars and scripts
// read it, and alerts as a desktop shows them.

#include "bus/alert_notifications.h"
#include "bus/dbus_menu.h"
#include "bus/status_notifier_item.h"
#include "bus/ticker_bus.h"
#include "test_support.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QFile>
#include <QSaveFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class BusTest : public testing::Test {
protected:
    PrivateBus bus;
    QDBusConnection agent = bus.connect("agent");
    QDBusConnection host = bus.connect("host");
    Recorder recorder;

    QDBusMessage call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        return PrivateBus::call(host, message);
    }
    QVariant property(const QString& service, const QString& path, const QString& interface,
                      const QString& name) {
        const QDBusReply<QDBusVariant> reply =
            call(service, path, "org.freedesktop.DBus.Properties", "Get", {interface, name});
        return reply.isValid() ? reply.value().variant() : QVariant();
    }
    void listen(const QString& service, const QString& path, const QString& interface,
                const QString& name) {
        host.connect(service, path, interface, name, &recorder, SLOT(record(QDBusMessage)));
    }
    QStringList signalNames() const {
        QStringList names;
        for (const QDBusMessage& message : recorder.signals_) {
            names << message.member();
        }
        return names;
    }
};

TEST_F(BusTest, theItemRegistersWithEveryWatcherAndShowsWhatItIsGiven) {
    TestWatcher watcher(host);
    ASSERT_TRUE(watcher.start());
    StatusNotifierItem item(agent, {"/icons/normal.png", {{2, 1, QByteArray(8, 'x')}}}, "/icons");
    ASSERT_TRUE(item.start());
    const QString service = item.serviceName();
    const QString sni = "org.kde.StatusNotifierItem";
    ASSERT_TRUE(eventually([&] { return watcher.items == QStringList{service}; }));
    watcher.stop(); // a panel that restarts hears of the item again
    ASSERT_TRUE(watcher.start());
    EXPECT_TRUE(eventually([&] { return watcher.items.size() == 2; }));

    listen(service, "/StatusNotifierItem", sni, "XAyatanaNewLabel");
    listen(service, "/StatusNotifierItem", sni, "NewIcon");
    listen(service, "/StatusNotifierItem", "org.freedesktop.DBus.Properties", "PropertiesChanged");
    item.setTitle("\u20bf 67,432");
    item.setToolTip("\u20bf 67,432", "Source: x");
    item.setIcon({"/icons/stale.png", {}});
    const auto get = [&](const char* name) {
        return property(service, "/StatusNotifierItem", sni, name);
    };
    EXPECT_EQ(get("XAyatanaLabel"), "\u20bf 67,432");
    EXPECT_EQ(get("Title"), "\u20bf 67,432");
    EXPECT_EQ(get("Id"), "brimwell-ticker");
    EXPECT_EQ(get("Category"), "ApplicationStatus");
    EXPECT_EQ(get("Status"), "Active");
    EXPECT_EQ(get("ItemIsMenu"), false);
    EXPECT_EQ(get("XAyatanaLabelGuide"), "\u20bf 000,000");
    EXPECT_EQ(get("IconName"), "/icons/stale.png");
    EXPECT_EQ(get("IconThemePath"), "/icons");
    EXPECT_EQ(qdbus_cast<QDBusObjectPath>(get("Menu")).path(), "/MenuBar");
    const auto toolTip = qdbus_cast<SniToolTip>(get("ToolTip"));
    EXPECT_EQ(toolTip.text, "Source: x");
    // Each change also as PropertiesChanged, which some hosts read instead.
    EXPECT_TRUE(eventually([&] { return signalNames().size() == 5; }));
    EXPECT_EQ(signalNames(), (QStringList{"XAyatanaNewLabel", "PropertiesChanged",
                                          "PropertiesChanged", "NewIcon", "PropertiesChanged"}));
    EXPECT_EQ(recorder.signals_[0].arguments().value(0), "\u20bf 67,432");
    const auto changed = qdbus_cast<QVariantMap>(recorder.signals_[1].arguments().value(1));
    EXPECT_EQ(changed.value("XAyatanaLabel"), "\u20bf 67,432");

    QSignalSpy activated(&item, &StatusNotifierItem::activated);
    QSignalSpy secondary(&item, &StatusNotifierItem::secondaryActivated);
    call(service, "/StatusNotifierItem", sni, "Activate", {5, 7});
    call(service, "/StatusNotifierItem", sni, "XAyatanaSecondaryActivate", {0u});
    ASSERT_EQ(activated.size(), 1);
    EXPECT_EQ(activated[0], (QVariantList{5, 7}));
    EXPECT_EQ(secondary.size(), 1);
}

// Hosts may drop an item that registers while they start, and say nothing: the item
// registers until a host has taken it (the watcher lists it; for a watcher without a list, a
// host read it), a bounded number of times, and again when a watcher says it was dropped.
TEST_F(BusTest, theItemRegistersAgainUntilAHostTakesIt) {
    TestWatcher watcher(host);
    ASSERT_TRUE(watcher.start());
    StatusNotifierItem item(agent, {}, {}, nullptr, {200ms, 3});
    QSignalSpy taken(&item, &StatusNotifierItem::taken);
    QSignalSpy notTaken(&item, &StatusNotifierItem::notTaken);
    ASSERT_TRUE(item.start());
    const QString service = item.serviceName();
    ASSERT_TRUE(eventually(
        [&] { return notTaken.size() == 1; })); // nobody read it: every try, then no more
    EXPECT_EQ(watcher.items.size(), 3);
    EXPECT_EQ(taken.size(), 0);
    // A host that reads the item takes it, where the watcher has no list...
    const auto readUntil = [&](QSignalSpy& spy, qsizetype count) {
        return eventually([&] {
            property(service, "/StatusNotifierItem", "org.kde.StatusNotifierItem", "Id");
            return spy.size() == count;
        });
    };
    watcher.stop(); // a new watcher tries afresh
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(readUntil(taken, 1));
    // ...but where it has one, only the list counts (a host may read and then drop it).
    watcher.stop();
    ASSERT_TRUE(watcher.start(true));
    ASSERT_TRUE(readUntil(notTaken, 2));
    watcher.listed = {service + "/StatusNotifierItem"};
    const qsizetype before = watcher.items.size();
    emit watcher.StatusNotifierItemUnregistered(service); // dropped while it runs: back in
    ASSERT_TRUE(eventually([&] { return taken.size() == 2; }));
    EXPECT_EQ(watcher.items.size(), before + 1);
}

TEST_F(BusTest, theMenuListsTheRowsThenRefreshAndQuitAndRefusesWhatNoMenuHas) {
    StatusNotifierItem item(agent, {}, {});
    ASSERT_TRUE(item.start());
    const QString service = item.serviceName();
    const QString menu = "com.canonical.dbusmenu";
    listen(service, "/MenuBar", menu, "LayoutUpdated");
    listen(service, "/MenuBar", menu, "ItemsPropertiesUpdated");
    item.setMenuRows({"\u20bf 67,432", "a_b"});
    const auto layout = [&] {
        const QDBusMessage reply =
            call(service, "/MenuBar", menu, "GetLayout", {0, -1, QStringList{}});
        QStringList labels;
        for (const auto& child :
             qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1)).children) {
            labels << child.properties.value("label", child.properties.value("type")).toString() +
                          (child.properties.value("enabled", true).toBool() ? "" : " (off)");
        }
        return labels;
    };
    EXPECT_EQ(layout(),
              (QStringList{"\u20bf 67,432 (off)", "a__b (off)", "separator", "Refresh", "Quit"}));
    item.setMenuRows({"\u20bf 67,433", "a_b"}); // texts only
    item.setMenuRows({"\u20bf 67,433"});        // one row less
    EXPECT_TRUE(eventually([&] { return signalNames().size() == 3; }));
    EXPECT_EQ(signalNames(),
              (QStringList{"LayoutUpdated", "ItemsPropertiesUpdated", "LayoutUpdated"}));

    QSignalSpy refresh(&item, &StatusNotifierItem::refreshRequested);
    QSignalSpy quit(&item, &StatusNotifierItem::quitRequested);
    QSignalSpy open(&item, &StatusNotifierItem::menuOpenChanged);
    QSignalSpy aboutToShow(&item, &StatusNotifierItem::menuAboutToShow);
    const QVariant data = QVariant::fromValue(QDBusVariant(0));
    call(service, "/MenuBar", menu, "Event", {DBusMenu::refreshId, "clicked", data, 0u});
    call(service, "/MenuBar", menu, "Event", {DBusMenu::quitId, "clicked", data, 0u});
    call(service, "/MenuBar", menu, "Event", {0, "opened", data, 0u});
    call(service, "/MenuBar", menu, "AboutToShow", {0});
    call(service, "/MenuBar", menu, "Event", {0, "closed", data, 0u});
    EXPECT_EQ((std::vector{refresh.size(), quit.size(), aboutToShow.size()}),
              (std::vector<qsizetype>{1, 1, 1}));
    ASSERT_EQ(open.size(), 2);
    EXPECT_EQ(open[0][0], true);
    EXPECT_EQ(open[1][0], false);

    const auto error = [&](const QString& method, const QVariantList& arguments) {
        return call(service, "/MenuBar", menu, method, arguments).errorName();
    };
    const QString invalid = "org.freedesktop.DBus.Error.InvalidArgs";
    QList<int> many(DBusMenu::maxListLength + 1, 0);
    EXPECT_EQ(error("Event", {42, "clicked", data, 0u}), invalid);
    EXPECT_EQ(error("GetLayout", {42, -1, QStringList{}}), invalid);
    EXPECT_EQ(error("GetGroupProperties", {QVariant::fromValue(many), QStringList{}}), invalid);
    many.resize(DBusMenu::maxListLength);
    EXPECT_EQ(error("GetGroupProperties", {QVariant::fromValue(many), QStringList{}}), "");
}

TEST_F(BusTest, theAgentsStateAndCommandsReachReadersOfTicker1) {
    qint64 owner = 0;
    ASSERT_EQ(TickerService::claim(agent, &owner), TickerService::Claim::owned);
    ASSERT_EQ(TickerService::claim(host, &owner), TickerService::Claim::taken);
    EXPECT_EQ(owner, QCoreApplication::applicationPid());
    TestFeed feed;
    const auto updated = std::chrono::system_clock::time_point(1735689600123ms);
    feed.current = {BitcoinPrice{67432.5, updated, "kraken"}, {}, false, "+1.0 % in 24 h"};
    TickerService service(agent, feed, QLocale::c());
    ASSERT_TRUE(service.start());
    listen(TickerBus::serviceName, TickerBus::objectPath, "org.freedesktop.DBus.Properties",
           "PropertiesChanged");
    const QDBusReply<QVariantMap> all =
        call(TickerBus::serviceName, TickerBus::objectPath, "org.freedesktop.DBus.Properties",
             "GetAll", {TickerBus::interfaceName});
    EXPECT_EQ(all.value(), (QVariantMap{{"Title", "\u20bf 67,432"},
                                        {"Price", 67432.5},
                                        {"Source", "kraken"},
                                        {"Updated", qlonglong(1735689600123)},
                                        {"LastError", ""},
                                        {"FailureSummary", ""},
                                        {"Stale", false},
                                        {"Change", "+1.0 % in 24 h"},
                                        {"Currency", "USD"}}));

    RemoteFeed remote(host);
    ASSERT_TRUE(eventually([&] { return remote.available(); }));
    EXPECT_EQ(remote.state(), feed.current);
    feed.set({feed.current.latestPrice, "All providers failed. ", true, "", "None answered"});
    EXPECT_TRUE(eventually([&] { return remote.state() == feed.current; }));
    ASSERT_EQ(recorder.signals_.size(), 1);
    const auto changed = qdbus_cast<QVariantMap>(recorder.signals_[0].arguments().value(1));
    EXPECT_EQ(changed.keys(), (QStringList{"Change", "FailureSummary", "LastError", "Stale"}));
    // A storm of changes: the state follows, `changed` waits its spacing (here an hour).
    RemoteFeed paced(host, 1h);
    ASSERT_TRUE(eventually([&] { return paced.available(); }));
    QSignalSpy told(&paced, &TickerFeed::changed);
    for (int usd = 1; usd <= 2000; ++usd) {
        feed.set({BitcoinPrice{double(usd), updated, "x"}});
    }
    const BitcoinPrice last{2000, updated, "x"};
    EXPECT_TRUE(eventually([&] { return paced.state().latestPrice == last; }));
    EXPECT_EQ(told.size(), 0);
    feed.set({});
    EXPECT_TRUE(eventually([&] { return !remote.state().latestPrice; }));
    EXPECT_EQ(service.published().value("Price"), 0.0);

    QSignalSpy quit(&service, &TickerService::quitRequested);
    remote.refresh(); // a script's is braked, the own GUI's (this process, below) is not
    EXPECT_TRUE(eventually([&] { return feed.refreshedWhenIdle == 1; }));
    service.setOwnGui([] { return QList<qint64>{1}; });
    remote.refresh();
    EXPECT_TRUE(eventually([&] { return feed.refreshedWhenIdle == 2; }));
    service.setOwnGui([] { return QList<qint64>{QCoreApplication::applicationPid()}; });
    remote.refresh();
    remote.quit();
    EXPECT_TRUE(eventually([&] { return feed.refreshed == 1 && quit.size() == 1; }));
    QSignalSpy gone(&remote, &RemoteFeed::availableChanged);
    agent.unregisterService(TickerBus::serviceName);
    EXPECT_TRUE(eventually([&] { return gone.size() == 1; }));
    EXPECT_FALSE(remote.available());
}

TEST(TickerBusState, believesOnlyWhatChecksOut) {
    const TickerState state{
        BitcoinPrice{67432.5, std::chrono::system_clock::time_point(1000ms), "x"}, "down\x1b[2J\n",
        false, "+1.0 % in 24 h"};
    const QVariantMap good = TickerBus::properties(state, QLocale::c());
    EXPECT_EQ(TickerBus::state(good)->lastError, "down\\x1b[2J\\x0a");
    EXPECT_EQ(TickerBus::state(TickerBus::properties({}, QLocale::c())), TickerState{});
    const TickerState euros{state.latestPrice, {}, false, "", "", *Currency::fromCode("EUR")};
    EXPECT_EQ(TickerBus::state(TickerBus::properties(euros, QLocale::c())), euros);
    QVariantMap older = good; // an agent from before there was a choice
    older.remove("Currency");
    EXPECT_EQ(TickerBus::state(older)->currency, Currency::usd());
    const std::pair<const char*, QVariant> bad[] = {
        {"Price", -1e308},     {"Price", 0.0},      {"Price", qInf()},
        {"Price", "67432"},    {"Updated", 1e300},  {"Updated", qlonglong(1) << 62},
        {"Updated", 1000},     {"Stale", 1},        {"Source", QString(1025, 'x')},
        {"Title", QVariant()}, {"Currency", "eur"}, {"Currency", 1}};
    for (const auto& [name, value] : bad) {
        QVariantMap properties = good;
        properties.insert(name, value);
        EXPECT_FALSE(TickerBus::state(properties)) << name << " " << value.toString().toStdString();
    }
}

TEST_F(BusTest, crossingsBecomeNotificationsAndTheLevelsFollowTheSettingsFile) {
    QTemporaryDir dir;
    const SettingsFile settings(dir.filePath("config/brimwell-ticker/brimwell-ticker.conf"));
    const BitcoinPrice price{70123, std::chrono::system_clock::now(), "coinbase"};
    {
        const LogLines log; // no notification service yet
        AlertNotifications alerts(agent, settings, {70000, {}}, 69000, QLocale::c());
        alerts.observe(price);
        EXPECT_TRUE(eventually([&] { return log.lines().size() == 1; }));
        EXPECT_EQ(log.lines()[0], "[ticker] no notification service on the session bus; not "
                                  "shown: Bitcoin above $70,000");
    }
    TestNotifications desktop(host);
    // Edited while running in a folder that did not exist at start: the first store makes
    // it, an editor's save replaces the file, then a line is added in place.
    AlertNotifications alerts(agent, settings, {}, 69000, QLocale::c());
    ASSERT_TRUE(SettingsFile(settings).writeData("BrimwellTicker.LastPrice", "{}"));
    QSaveFile saved(settings.path());
    saved.open(QIODevice::WriteOnly);
    saved.write("[General]\nBrimwellTicker.AlertAbove=70000\n");
    ASSERT_TRUE(saved.commit());
    ASSERT_TRUE(eventually([&] { return alerts.levels().above == 70000; }));
    QFile file(settings.path());
    file.open(QIODevice::Append);
    file.write("BrimwellTicker.AlertBelow=60000.5\n");
    file.close();
    ASSERT_TRUE(eventually([&] { return alerts.levels().below == 60000.5; }));
    alerts.observe(price);
    alerts.observe({60000, price.timestamp, "kraken"});
    ASSERT_TRUE(eventually([&] { return desktop.shown.size() == 2; }));
    EXPECT_TRUE(desktop.shown[0].startsWith("Bitcoin above $70,000|\u20bf 70,123 from coinbase|"))
        << desktop.shown[0].toStdString();
    EXPECT_TRUE(desktop.shown[0].contains("brimwell-ticker"));
    EXPECT_TRUE(desktop.shown[1].startsWith("Bitcoin below $60,000.50|"));
    EXPECT_EQ(AlertNotifications::summary({true, 70000}, *Currency::fromCode("EUR")),
              "Bitcoin above \u20ac70,000");
    EXPECT_EQ(AlertNotifications::summary({false, 60000.5}, *Currency::fromCode("CHF")),
              "Bitcoin below CHF 60,000.50");
}

} // namespace
