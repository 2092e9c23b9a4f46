// The built program as a panel agent: on a private session bus with a watcher of the
// test's own, on the offscreen platform, against local HTTPS servers.

#include "fetch/last_price_cache.h"
#include "local_price_services.h"
#include "bus/dbus_types.h"
#include "private_bus.h"
#include "program_run.h"
#include "temp_dir.h"
#include "test_status_notifier_watcher.h"
#include "wait_until.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <gtest/gtest.h>

#include <atomic>

namespace {

using namespace std::chrono_literals;

const char* const mempoolPath = "/api/v1/prices";

class PanelAgentTest : public testing::Test {
protected:
    TempDir home;
    TempDir runtime;
    LocalPriceServices services;
    PrivateBus bus;
    QDBusConnection host = bus.connect();
    TestStatusNotifierWatcher watcher{host};
    std::atomic<int> requests = 0;

    void SetUp() override {
        services.server().get(mempoolPath,
                              [this](const httplib::Request&, httplib::Response& response) {
                                  // The first answer takes a moment, so the stored price shows
                                  // first.
                                  if (++requests == 1) {
                                      services.server().waitForStop(800ms);
                                  }
                                  response.set_content(R"({"USD":67432.49})", "application/json");
                              });
        services.start();
    }

    QString configHome() const { return QString::fromStdString(home.path().string()); }

    QProcessEnvironment session() const {
        QProcessEnvironment environment;
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        environment.insert("XDG_RUNTIME_DIR", QString::fromStdString(runtime.path().string()));
        return environment;
    }

    std::unique_ptr<ProgramRun> startAgent() {
        QStringList arguments{"--interval", "3600"};
        for (const auto& entry : services.options().connectTo) {
            arguments << "--connect-to" << QString::fromStdString(entry);
        }
        arguments << "--cacert" << QString::fromStdString(services.options().caFile);
        return std::make_unique<ProgramRun>(arguments, configHome(), session());
    }

    QString itemService() const {
        return watcher.registrations().isEmpty() ? QString()
                                                 : watcher.registrations().last().service;
    }

    // Plain messages rather than QDBusInterface, whose introspection stays cached.
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments) {
        QDBusMessage message =
            QDBusMessage::createMethodCall(itemService(), path, interface, method);
        message.setArguments(arguments);
        return host.call(message);
    }

    QVariant property(const QString& name) {
        const QDBusReply<QDBusVariant> reply =
            call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                 {"org.kde.StatusNotifierItem", name});
        return reply.isValid() ? reply.value().variant() : QVariant();
    }

    // The menu's item id for `label`, from the layout the item exports.
    int menuId(const QString& label) {
        const QDBusMessage reply =
            call("/MenuBar", "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList{}});
        const auto root = qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1));
        for (const DBusMenuLayoutItem& child : root.children) {
            if (child.properties.value("label").toString() == label) {
                return child.id;
            }
        }
        return -1;
    }

    void click(int id) {
        call("/MenuBar", "com.canonical.dbusmenu", "Event",
             {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    }
};

TEST_F(PanelAgentTest, showsTheStoredPriceThenTheFetchedOneAsItsLabel) {
    ASSERT_TRUE(watcher.start());
    LastPriceCache(SettingsFile(configHome() + "/brimwell-ticker/brimwell-ticker.conf"))
        .store({67250.5, BitcoinPrice::Clock::now(), "coinbase"});
    auto agent = startAgent();
    ASSERT_TRUE(waitUntil([&] { return !itemService().isEmpty(); }));
    EXPECT_TRUE(waitUntil([&] { return property("XAyatanaLabel") == "\u20bf 67,250"; }, 700ms));
    EXPECT_EQ(property("Id").toString(), "brimwell-ticker");
    EXPECT_EQ(property("ItemIsMenu").toBool(), false);
    EXPECT_TRUE(waitUntil([&] { return property("XAyatanaLabel") == "\u20bf 67,432"; }));
    agent->signal(SIGTERM);
    EXPECT_EQ(agent->waitForExit(), 0);
    EXPECT_TRUE(agent->standardError().startsWith(
        "brimwell-ticker: showing the price in the panel as a StatusNotifierItem\n"));
}

TEST_F(PanelAgentTest, menuRefreshFetchesAndQuitEnds) {
    ASSERT_TRUE(watcher.start());
    auto agent = startAgent();
    ASSERT_TRUE(waitUntil([&] { return property("XAyatanaLabel") == "\u20bf 67,432"; }));
    const int before = requests;
    click(menuId("Refresh"));
    EXPECT_TRUE(waitUntil([&] { return requests == before + 1; }));
    click(menuId("Quit"));
    EXPECT_EQ(agent->waitForExit(3s), 0);
}

TEST_F(PanelAgentTest, aSecondAgentSaysWhichOneRunsAndLeaves) {
    ASSERT_TRUE(watcher.start());
    auto first = startAgent();
    ASSERT_TRUE(waitUntil([&] { return !itemService().isEmpty(); }));
    auto second = startAgent();
    EXPECT_EQ(second->waitForExit(), 0);
    EXPECT_EQ(second->standardError(),
              QString("brimwell-ticker is already running (pid %1)\n").arg(first->pid()));
    EXPECT_EQ(watcher.registrations().size(), 1);
}

TEST_F(PanelAgentTest, withoutAHostOrTrayTheTitleStreamsToStdout) {
    auto agent = startAgent(); // no watcher on the bus, no tray on the offscreen platform
    EXPECT_EQ(agent->readLine(), QString("\u20bf ..."));
    EXPECT_EQ(agent->readLine(), QString("\u20bf 67,432"));
    agent->signal(SIGTERM);
    EXPECT_EQ(agent->waitForExit(), 0);
    EXPECT_TRUE(agent->standardError().startsWith(
        "brimwell-ticker: no panel item host or system tray; streaming the title to stdout as "
        "with --bar=plain\n"));
}

TEST_F(PanelAgentTest, withoutADesktopSessionTheTitleStreamsToStdout) {
    QStringList arguments;
    for (const auto& entry : services.options().connectTo) {
        arguments << "--connect-to" << QString::fromStdString(entry);
    }
    arguments << "--cacert" << QString::fromStdString(services.options().caFile);
    ProgramRun agent(arguments, configHome()); // no display, no platform, no bus
    EXPECT_EQ(agent.readLine(), QString("\u20bf ..."));
    agent.signal(SIGTERM);
    EXPECT_EQ(agent.waitForExit(), 0);
    EXPECT_TRUE(agent.standardError().startsWith(
        "brimwell-ticker: no desktop session; streaming the title to stdout as with "
        "--bar=plain\n"));
}

} // namespace
