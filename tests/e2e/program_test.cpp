// The built program as users, status bars, panels and logins drive it: its command line,
// output, exit status, settings file and signals, against local HTTPS services, a private
// session bus and a panel host's watcher of the test's own.

#include "bus/dbus_types.h"
#include "bus/ticker_bus.h"
#include "fetch/last_price_cache.h"
#include "fetch/price_history.h"
#include "panel/price_popover_view.h"
#include "test_support.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSaveFile>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <clocale>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::system_clock;
const char* const mempoolBody = R"({"USD":67432.49})";

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString rendered(int code) {
    return "The operation couldn\u2019t be completed. (Brimwell_Ticker.PriceError error " +
           QString::number(code) + ".)";
}

class ProgramTest : public testing::Test {
protected:
    QTemporaryDir home;
    LocalServices services;

    SettingsFile settings() const {
        return SettingsFile(home.filePath("config/brimwell-ticker/brimwell-ticker.conf"));
    }
    void store(Clock::time_point when) const {
        LastPriceCache(settings()).store({67250.5, when, "coinbase"});
    }
    std::unique_ptr<Program> run(QStringList arguments, QProcessEnvironment environment = {},
                                 const QStringList& command = {Program::binary()}) const {
        if (environment.isEmpty()) {
            environment = Program::user(home.path());
        }
        return std::make_unique<Program>(arguments + services.arguments(), environment, command);
    }
};

TEST(CommandLine, refusesWhatMakesNoSenseInOneLineWithTheUsage) {
    QTemporaryDir home;
    const std::pair<QStringList, QString> bad[] = {
        {{"--interval", "-1"}, "--interval: '-1' is not a number of seconds (0 or more)"},
        {{"--interval", "nan"}, "--interval: 'nan' is not a number of seconds (0 or more)"},
        {{"--interval=1e400"}, "--interval: '1e400' is not a number of seconds (0 or more)"},
        {{"--interval"}, "--interval needs a number of seconds"},
        {{"--connect-to", "a:b:c:d"},
         "--connect-to needs HOST:PORT:HOST2:PORT2 with numeric ports, got 'a:b:c:d'"},
        {{"--connect-to", "a:1:b"},
         "--connect-to needs HOST:PORT:HOST2:PORT2 with numeric ports, got 'a:1:b'"},
        {{"--connect-to", "a:0:b:1"},
         "--connect-to needs HOST:PORT:HOST2:PORT2 with numeric ports, got 'a:0:b:1'"},
        {{"--connect-to", "a:1:b:65536"},
         "--connect-to needs HOST:PORT:HOST2:PORT2 with numeric ports, got 'a:1:b:65536'"},
        {{"--cacert", "/dev/zero"}, "--cacert: '/dev/zero' is not a readable file"},
        {{"--cacert", "/"}, "--cacert: '/' is not a readable file"},
        {{"--cacert", "a\nb\x1b"}, "--cacert: 'a\\nb\\x1b' is not a readable file"},
        {{"--alert-above", "-3"}, "--alert-above: '-3' is not a price in US dollars"},
        {{"--alert-below=0", "--currency=CHF"},
         "--alert-below: '0' is not a price in Swiss francs"},
        {{"--currency", "eur"},
         "--currency: 'eur' is not a currency (USD, EUR, GBP, CAD, CHF, AUD or JPY)"},
        {{"--bar=xml"}, "--bar: unknown format 'xml' (plain, waybar or i3bar)"},
        {{"--once", "--bar"}, "--once and --bar cannot be used together"},
        {{"--fast"}, "unknown option '--fast'"},
        {{"now"}, "unexpected argument 'now'"}};
    for (const auto& [arguments, reason] : bad) {
        Program program(arguments, Program::user(home.path()));
        EXPECT_EQ(program.waitForExit(), 2) << reason.toStdString();
        const QStringList lines = program.standardError().split('\n');
        EXPECT_EQ(lines[0], "brimwell-ticker: " + reason);
        EXPECT_TRUE(lines[1].startsWith("usage: brimwell-ticker ")) << reason.toStdString();
    }
    Program version({"--version"}, Program::user(home.path()));
    EXPECT_EQ(version.readLine(), "brimwell-ticker " BRIMWELL_VERSION);
    Program help({"--help"}, Program::user(home.path()));
    EXPECT_TRUE(help.readLine()->startsWith("usage: brimwell-ticker"));
    EXPECT_EQ(help.waitForExit(), 0);
}

TEST_F(ProgramTest, onceShowsTheFirstPriceOfThePassAndStoresIt) {
    services.answer(servicePaths[0], 503, mempoolBody);
    services.answer(servicePaths[1], 200,
                    R"({"data":{"amount":"1234567.8","base":"BTC","currency":"USD"}})");
    services.start();
    // Without the locale this would check nothing.
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8")) << "de_DE.UTF-8 is not installed";
    std::setlocale(LC_ALL, "C");
    QProcessEnvironment german = Program::user(home.path());
    german.insert("LC_ALL", "de_DE.UTF-8");
    const auto once = run({"--once"}, german);
    EXPECT_EQ(once->readLine(), "\u20bf 1,234,568");
    EXPECT_EQ(once->waitForExit(), 0);
    const auto stored = LastPriceCache(settings()).restore();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->source, "coinbase");
    EXPECT_EQ(services.requests, 2);
    const auto history = PriceHistory(home.filePath("state/brimwell-ticker/history")).read({});
    ASSERT_EQ(history.size(), 1u);
    EXPECT_EQ(history[0].usd, 1234567.8);
}

TEST_F(ProgramTest, onceWithEveryProviderFailingShowsTheStoredPriceAndTheFailure) {
    services.start(); // 404 everywhere
    store(Clock::now() - 1h);
    const auto once = run({"--once"});
    EXPECT_EQ(once->readLine(), "\u20bf 67,250");
    EXPECT_EQ(once->waitForExit(), 1);
    EXPECT_EQ(once->standardError(),
              "All providers failed. mempool.space: " + rendered(2) +
                  " | coinbase: " + rendered(2) + " | kraken: " + rendered(2) +
                  " | blockchain.info: " + rendered(2) + " | coingecko: " + rendered(2) + "\n");
    EXPECT_EQ(LastPriceCache(settings()).restore()->usd, 67250.5);
}

// A request that never ends would meet its 10 s limit, which stderr would tell. Without a
// desktop session the agent streams the title, as a plain bar does.
TEST_F(ProgramTest, aSignalEndsEveryModeAtOnceWithoutLoggingTheAbortedRequest) {
    services.server().Get(servicePaths[0], [&](const auto&, auto&) { services.hold(); });
    services.start();
    const std::tuple<QStringList, int, QString> modes[] = {
        {{"--once"}, 128 + SIGTERM, "brimwell-ticker: ended by SIGTERM before the pass was over\n"},
        {{"--bar"}, 0, ""},
        {{},
         0,
         "brimwell-ticker: no desktop session; streaming the title to stdout as with "
         "--bar=plain\n"}};
    for (const auto& [arguments, status, said] : modes) {
        const auto program = run(arguments);
        ASSERT_TRUE(eventually([&] { return services.requests > 0; }));
        services.requests = 0;
        if (status == 0) {
            EXPECT_EQ(program->readLine(), "\u20bf ...");
        }
        program->signal(SIGTERM);
        EXPECT_EQ(program->waitForExit(), status);
        EXPECT_EQ(program->standardError(), said);
    }
}

TEST_F(ProgramTest, barsGetARecordPerChangeStaleFromAnOldPriceAndRefreshOnSigusr1) {
    store(Clock::now() - 72h);
    services.server().Get(servicePaths[0], [&](const auto&, httplib::Response& response) {
        if (services.requests == 1) {
            services.hold(); // until the stored price has been seen
        }
        response.set_content(mempoolBody, "application/json");
    });
    services.start();
    const auto waybar = run({"--bar=waybar", "--interval", "3600"});
    const auto first = waybar->readLine();
    ASSERT_TRUE(first);
    EXPECT_TRUE(
        first->startsWith(R"({"text":"₿ 67,250","alt":"coinbase","tooltip":"₿ 67,250)"));
    EXPECT_TRUE(first->contains(R"(\nUnchanged since )") &&
                first->endsWith(R"(","class":"stale"})"))
        << first->toStdString();
    services.release();
    const auto second = waybar->readLine();
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->contains(R"(\nUpdated: )") && second->endsWith(R"(","class":"ok"})"))
        << second->toStdString();
    waybar->signal(SIGUSR1);
    EXPECT_TRUE(eventually([&] { return services.requests == 2; }));

    const auto i3bar = run({"--bar=i3bar", "--interval", "3600"});
    EXPECT_EQ(i3bar->readLine(), R"({"version":1})");
    EXPECT_EQ(i3bar->readLine(), "[");
    EXPECT_TRUE(i3bar->readLine()->startsWith(R"([{"name":"brimwell-ticker","full_text")"));
}

TEST_F(ProgramTest, aBarWhoseReaderLeftEndsAndNoModeButTheGuiMapsAGuiLibrary) {
    services.answer(servicePaths[0], 200, mempoolBody);
    services.start();
    const QString fifo = home.filePath("bar");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    const int reader =
        ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QProcess bar;
    bar.setProcessEnvironment(Program::user(home.path()));
    bar.setStandardOutputFile(fifo);
    bar.start(Program::binary(), QStringList{"--bar", "--interval", "3600"} + services.arguments());
    char line[64];
    ASSERT_TRUE(eventually([&] { return ::read(reader, line, sizeof line) > 0; }));
    QFile maps(QString("/proc/%1/maps").arg(bar.processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    const QString mapped = maps.readAll();
    for (const char* library : {"libQt6Gui", "libQt6Widgets", "libQt6Svg", "libxcb", "libX11",
                                "libfontconfig", "libfreetype"}) {
        EXPECT_FALSE(mapped.contains(library)) << library;
    }
    EXPECT_TRUE(mapped.contains("libQt6Core"));
    ::close(reader); // the bar went away; the title stays as it is
    EXPECT_TRUE(bar.waitForFinished(int(patience.count())));
    EXPECT_EQ(bar.exitCode(), 0);
}

TEST_F(ProgramTest, settingsThatAreNoFileDoNotHoldUpTheStartAndStoresSurviveKillsAndFullDisks) {
    services.answer(servicePaths[0], 200, mempoolBody);
    services.start();
    const QString path = settings().path();
    QDir().mkpath(QFileInfo(path).path());
    ::mkfifo(QFile::encodeName(path).constData(), 0600);
    const auto once = run({"--once"});
    EXPECT_EQ(once->readLine(), "\u20bf 67,432");
    EXPECT_TRUE(once->standardError().contains("is not a regular file; using the defaults"));
    QFile::remove(path);

    // Killed in the middle of a store, the file holds the old record or the new one. A long
    // comment makes a store take a while. A bar passing back to back is stopped as its store
    // makes the scratch file (or writes it), and killed if that file is still there, else
    // let go on: each kill lands in a store and leaves its scratch file behind.
    const QByteArray comment = "; " + QByteArray(900'000, 'x') + "\n[General]\n";
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(comment);
    file.close();
    store(Clock::now());
    const QString folder = QFileInfo(path).path();
    const auto scratchFiles = [&] {
        return QDir(folder).entryList({".*.tmp"}, QDir::Files | QDir::Hidden).size();
    };
    const int created = ::inotify_init1(IN_CLOEXEC);
    for (int kill = 1; kill <= 10; ++kill) {
        ::inotify_add_watch(created, QFile::encodeName(folder).constData(),
                            kill % 2 ? IN_CREATE : IN_MODIFY);
        const auto bar = run({"--bar", "--interval", "0"});
        ASSERT_TRUE(eventually([&] {
            pollfd event{created, POLLIN, 0};
            char buffer[4096];
            if (::poll(&event, 1, 100) != 1 || ::read(created, buffer, sizeof buffer) < 0) {
                return false;
            }
            bar->signal(SIGSTOP);
            const bool storing = eventually([&] {
                                     const QByteArray stat =
                                         contents(QString("/proc/%1/stat").arg(bar->pid()));
                                     return stat.mid(stat.lastIndexOf(')') + 2, 1) == "T";
                                 }) &&
                                 scratchFiles() == kill;
            bar->signal(storing ? SIGKILL : SIGCONT);
            return storing;
        })) << "kill "
            << kill;
        bar->waitForExit();
        EXPECT_EQ(scratchFiles(), kill);
        EXPECT_TRUE(contents(path).startsWith(comment)) << "after kill " << kill;
        ASSERT_TRUE(LastPriceCache(settings()).restore()) << "after kill " << kill;
    }
    ::close(created);
    // A store that does not fit the disk (a file size limit stands in) leaves the file, and
    // no other.
    const QByteArray before = contents(path);
    const auto limited = run({"--once"}, {}, {"prlimit", "--fsize=40", Program::binary()});
    EXPECT_EQ(limited->readLine(), "\u20bf 67,432");
    EXPECT_EQ(limited->waitForExit(), 0);
    EXPECT_TRUE(limited->standardError().contains("could not be written"));
    EXPECT_EQ(contents(path), before);
    EXPECT_EQ(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 11);
}

// An editor saves the settings file over and over (a new file renamed over the old, each
// save adding a line) while a bar stores a price after every pass: no save is overwritten.
TEST_F(ProgramTest, aStoreNeverOverwritesAnEditorsSave) {
    std::atomic<int> served = 0;
    services.server().Get(servicePaths[0], [&](const auto&, httplib::Response& response) {
        response.set_content("{\"USD\":" + std::to_string(60000 + ++served) + "}", "text/json");
    });
    services.start();
    const auto text = [&] {
        return contents(settings().path());
    };
    const auto bar = run({"--bar", "--interval", "0"});
    ASSERT_TRUE(eventually([&] { return served >= 2; }));
    const int saves = 500;
    for (int edit = 0; edit < saves; ++edit) {
        QSaveFile file(settings().path());
        file.open(QIODevice::WriteOnly);
        file.write(text() + "; edit " + QByteArray::number(edit) + "\n");
        ASSERT_TRUE(file.commit());
    }
    const int last = served; // then a whole pass and its store after the last save
    ASSERT_TRUE(eventually([&] { return served >= last + 2; }));
    const QByteArray saved = text();
    for (int edit = 0; edit < saves; ++edit) {
        EXPECT_TRUE(saved.contains("; edit " + QByteArray::number(edit) + "\n")) << edit;
    }
    EXPECT_GT(LastPriceCache(settings()).restore()->usd, 60000 + last);
}

// A user who may not write the settings directory (its mode says so). Root writes anyway,
// so as root this runs as nobody, with copies of the program and the certificates that
// nobody may read: the build may lie in a folder only root may enter.
TEST_F(ProgramTest, aStoreIntoADirectoryTheUserMayNotWriteLeavesTheFile) {
    services.answer(servicePaths[0], 200, mempoolBody);
    services.start();
    store(Clock::now() - 1h);
    const QByteArray directory = QFile::encodeName(QFileInfo(settings().path()).path());
    for (const QString& path : {home.path(), home.filePath("config")}) {
        ::chmod(QFile::encodeName(path).constData(), 0755);
    }
    ::chmod(directory.constData(), 0555);
    ::chmod(QFile::encodeName(settings().path()).constData(), 0666);
    const QByteArray before = contents(settings().path());
    QStringList arguments = QStringList{"--once"} + services.arguments();
    QStringList command{Program::binary()};
    QTemporaryDir copies;
    if (::geteuid() == 0) {
        ::chmod(QFile::encodeName(copies.path()).constData(), 0755);
        for (QString* path : {&command.back(), &arguments.back()}) {
            const QString copy = copies.filePath(QFileInfo(*path).fileName());
            ASSERT_TRUE(QFile::copy(*path, copy));
            ::chmod(QFile::encodeName(copy).constData(), 0755);
            *path = copy;
        }
        command =
            QStringList{"setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"} + command;
    }
    Program once(arguments, Program::user(home.path()), command);
    const auto line = once.readLine();
    ::chmod(directory.constData(), 0755); // so that the test's directory can be removed
    EXPECT_EQ(line, "\u20bf 67,432") << once.standardError().toStdString();
    EXPECT_EQ(once.waitForExit(), 0);
    EXPECT_EQ(contents(settings().path()), before);
}

class AgentTest : public ProgramTest {
protected:
    PrivateBus bus;
    QDBusConnection host = bus.connect("host");
    TestWatcher watcher{host};

    QProcessEnvironment session() const {
        QProcessEnvironment environment = Program::user(home.path());
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
        return environment;
    }
    std::unique_ptr<Program> agent(QStringList arguments = {"--interval", "3600"}) {
        return run(arguments, session());
    }
    QDBusMessage call(const QString& path, const QString& interface, const QString& method,
                      const QVariantList& arguments = {}) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            path.startsWith("/org") ? "org.brimwell.Ticker1" : watcher.items.value(0), path,
            interface, method);
        message.setArguments(arguments);
        return PrivateBus::call(host, message);
    }
    QVariant item(const char* name) {
        const QDBusReply<QDBusVariant> reply =
            call("/StatusNotifierItem", "org.freedesktop.DBus.Properties", "Get",
                 {"org.kde.StatusNotifierItem", name});
        return reply.isValid() ? reply.value().variant() : QVariant();
    }
    void click(int id) {
        call("/MenuBar", "com.canonical.dbusmenu", "Event",
             {id, "clicked", QVariant::fromValue(QDBusVariant(0)), 0u});
    }
};

TEST_F(AgentTest, showsTheStoredThenTheFetchedPriceAndAppearsWhenAPanelComesLate) {
    store(Clock::now());
    services.server().Get(servicePaths[0], [&](const auto&, httplib::Response& response) {
        services.hold(); // until the stored price has been seen
        response.set_content(mempoolBody, "application/json");
    });
    services.start();
    const auto ticker = agent();
    ASSERT_TRUE(
        eventually([&] { return ticker->standardError().contains("waiting for a panel"); }));
    ASSERT_TRUE(watcher.start()); // logged in before the panel
    ASSERT_TRUE(eventually([&] { return !watcher.items.isEmpty(); }));
    EXPECT_EQ(item("XAyatanaLabel"), "\u20bf 67,250");
    services.release();
    EXPECT_TRUE(eventually([&] { return item("XAyatanaLabel") == "\u20bf 67,432"; }));
    EXPECT_EQ(item("ItemIsMenu"), false);
    EXPECT_TRUE(item("IconName").toString().endsWith("brimwell-ticker.png"));
    ticker->signal(SIGTERM);
    EXPECT_EQ(ticker->waitForExit(), 0);
    EXPECT_EQ(ticker->standardError(),
              "brimwell-ticker: no panel item host or system tray yet; waiting for a panel to "
              "appear\nbrimwell-ticker: showing the price in the panel as a StatusNotifierItem\n");
}

TEST_F(AgentTest, oneAgentPerSessionWhoseMenuRefreshesAndQuits) {
    services.answer(servicePaths[0], 200, mempoolBody);
    services.start();
    ASSERT_TRUE(watcher.start());
    const auto first = agent();
    ASSERT_TRUE(eventually([&] { return item("XAyatanaLabel") == "\u20bf 67,432"; }));
    const auto second = agent();
    EXPECT_EQ(second->waitForExit(), 0);
    EXPECT_EQ(second->standardError(),
              QString("brimwell-ticker is already running (pid %1)\n").arg(first->pid()));
    const QDBusMessage layout =
        call("/MenuBar", "com.canonical.dbusmenu", "GetLayout", {0, -1, QStringList{}});
    QStringList labels;
    for (const auto& entry : qdbus_cast<DBusMenuLayoutItem>(layout.arguments().value(1)).children) {
        labels << entry.properties.value("label").toString();
    }
    EXPECT_EQ(labels, (QStringList{"\u20bf 67,432", "\u20bf \u2192 USD", "Source: mempool.space",
                                   "Updated: 0 sec", "", "Refresh", "Quit"}));
    // The age moves on every second while a host shows the menu, whether it says so with
    // "opened" or only asks AboutToShowGroup (XFCE), and stops when it closes.
    Recorder updates;
    host.connect(watcher.items.value(0), "/MenuBar", "com.canonical.dbusmenu",
                 "ItemsPropertiesUpdated", &updates, SLOT(record(QDBusMessage)));
    const QVariant data = QVariant::fromValue(QDBusVariant(0));
    const std::pair<QString, QVariantList> shows[] = {
        {"Event", {0, "opened", data, 0u}},
        {"AboutToShowGroup", {QVariant::fromValue(QList<int>{0})}}};
    for (const auto& [method, arguments] : shows) {
        const auto before = updates.signals_.size();
        call("/MenuBar", "com.canonical.dbusmenu", method, arguments);
        EXPECT_TRUE(eventually([&] { return updates.signals_.size() >= before + 2; }))
            << method.toStdString();
        call("/MenuBar", "com.canonical.dbusmenu", "Event", {0, "closed", data, 0u});
        QTest::qWait(100);
        const auto seen = updates.signals_.size();
        QTest::qWait(1500);
        EXPECT_EQ(updates.signals_.size(), seen) << method.toStdString();
    }
    click(1); // Refresh
    EXPECT_TRUE(eventually([&] { return services.requests == 2; }));
    click(2); // Quit
    EXPECT_EQ(first->waitForExit(), 0);
}

TEST_F(AgentTest, aStalePriceIsMutedSignalsFromTheFirstInstantAreHeardAndALostBusEndsIt) {
    store(Clock::now() - 72h); // and every service fails
    services.start();
    ASSERT_TRUE(watcher.start());
    const auto ticker = agent();
    ASSERT_TRUE(ticker->handles(SIGUSR1));
    ticker->signal(SIGUSR1); // while it starts: a pass, not the end
    ASSERT_TRUE(eventually([&] { return services.requests >= 10; }));
    ASSERT_TRUE(eventually([&] { return !watcher.items.isEmpty(); }));
    EXPECT_EQ(item("XAyatanaLabel"), "\u20bf 67,250");
    EXPECT_TRUE(item("IconName").toString().endsWith("brimwell-ticker-stale.png"));
    const auto toolTip = qdbus_cast<SniToolTip>(item("ToolTip"));
    EXPECT_TRUE(toolTip.text.contains("Unchanged since ")) << toolTip.text.toStdString();
    const QDBusReply<QDBusVariant> stale =
        call("/org/brimwell/Ticker", "org.freedesktop.DBus.Properties", "Get",
             {"org.brimwell.Ticker1", "Stale"});
    EXPECT_EQ(stale.value().variant(), true);
    bus.stop(); // without its bus the item is gone for good: the agent ends, and says so
    EXPECT_EQ(ticker->waitForExit(), 1);
    EXPECT_TRUE(ticker->standardError().endsWith("lost the session bus; ending\n"));
}

TEST_F(AgentTest, aFullStderrPipeStopsNeitherPassesNorTheEndAndTheLostLinesAreCounted) {
    // A decode error logged by each provider, one of them long: the member path of a
    // mistyped value names a pair of 3,000 characters.
    for (const char* path : servicePaths) {
        services.answer(path, 200,
                        path == servicePaths[2] ? R"({"error":[],"result":{")" +
                                                      std::string(3000, 'X') + R"(":{"c":[1]}}})"
                                                : std::string("not json"));
    }
    services.start();
    const QString fifo = home.filePath("stderr");
    ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
    const int reader =
        ::open(QFile::encodeName(fifo).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    QProcess ticker;
    ticker.setProcessEnvironment(session());
    ticker.setStandardErrorFile(fifo);
    ticker.start(Program::binary(), QStringList{"--interval", "0"} + services.arguments());
    const auto queued = [&] {
        int bytes = 0;
        ::ioctl(reader, FIONREAD, &bytes);
        return bytes;
    };
    ASSERT_TRUE(eventually([&] { return queued() > 60000; })); // the pipe is full
    const int before = services.requests;
    EXPECT_TRUE(eventually([&] { return services.requests > before + 50; }));
    // Read again, stderr gets a line that says how many lines were lost.
    QByteArray text;
    const auto drain = [&] {
        char buffer[65536];
        for (ssize_t got = 0; (got = ::read(reader, buffer, sizeof buffer)) > 0;) {
            text.append(buffer, got);
        }
        return text;
    };
    const qsizetype full = drain().size();
    const QByteArray lostLine = " log lines dropped: stderr was not being read";
    EXPECT_TRUE(eventually([&] { return drain().indexOf(lostLine, full) > 0; }));
    ::kill(pid_t(ticker.processId()), SIGTERM);
    EXPECT_TRUE(ticker.waitForFinished(int(patience.count())));
    drain();
    ::close(reader);
    // The line of every request answered was written or counted as lost; a request that
    // the end cut short logs nothing.
    qint64 written = text.count("[ticker] ");
    qint64 lost = 0;
    const QRegularExpression notices(R"(\[ticker\] (\d+))" + QString(lostLine));
    for (const auto& notice : notices.globalMatch(QString::fromUtf8(text))) {
        lost += notice.captured(1).toLongLong();
        --written;
    }
    EXPECT_GT(lost, 0);
    EXPECT_GE(written + lost, services.requests - 1) << written << " written, " << lost << " lost";
    EXPECT_LE(written + lost, services.requests) << written << " written, " << lost << " lost";
}

// A bar beside agents, judged by its records: it polls alone while the name's owner is no
// usable agent, shows the agent's prices while one runs (and leaves the stored levels'
// alerts to it), takes over from the newest price when the agent is killed, and hands back
// to the next agent.
TEST_F(AgentTest, aBarShowsTheAgentsPricesTakesOverFromTheNewestAndHandsBack) {
    std::atomic<int> usd = 68000; // 0: every service fails
    services.server().Get(servicePaths[0], [&](const auto&, httplib::Response& response) {
        response.status = usd ? 200 : 500;
        response.set_content("{\"USD\":" + std::to_string(usd) + "}", "text/json");
    });
    services.start();
    ASSERT_TRUE(watcher.start());
    TestNotifications desktop(host);
    store(Clock::now() - 1h);
    QFile file(settings().path());
    file.open(QIODevice::Append);
    file.write("BrimwellTicker.AlertAbove=70000\n");
    file.close();
    TestFeed rogue; // publishes a price that is none
    rogue.current.latestPrice = BitcoinPrice{-1e308, Clock::now(), "x"};
    TickerService impostor(host, rogue, QLocale::c());
    ASSERT_TRUE(impostor.start() && host.registerService("org.brimwell.Ticker1"));
    const auto bar = agent({"--bar=waybar", "--interval", "3600"});
    QStringList titles; // each new one
    const auto shows = [&](const QString& title, const QString& kind) {
        while (const auto line = bar->readLine()) {
            const QJsonObject record = QJsonDocument::fromJson(line->toUtf8()).object();
            if (titles.value(titles.size() - 1) != record["text"].toString()) {
                titles << record["text"].toString();
            }
            if (record["text"] == title && record["class"] == kind) {
                return true;
            }
        }
        return false;
    };
    ASSERT_TRUE(shows("\u20bf 68,000", "ok")); // its own pass
    host.unregisterService("org.brimwell.Ticker1");
    usd = 69000;
    const auto first = agent();
    ASSERT_TRUE(shows("\u20bf 69,000", "ok"));
    usd = 71000;
    call("/org/brimwell/Ticker", "org.brimwell.Ticker1", "Refresh");
    ASSERT_TRUE(shows("\u20bf 71,000", "ok"));
    usd = 0;
    first->signal(SIGKILL);
    ASSERT_TRUE(shows("\u20bf 71,000", "error")); // its own pass failed
    usd = 72000;
    const auto second = agent();
    ASSERT_TRUE(shows("\u20bf 72,000", "ok"));
    EXPECT_EQ(titles, (QStringList{"\u20bf 67,250", "\u20bf 68,000", "\u20bf 69,000",
                                   "\u20bf 71,000", "\u20bf 72,000"}));
    ASSERT_EQ(desktop.shown.size(), 1); // the first agent's, none from the bar
    EXPECT_TRUE(desktop.shown[0].startsWith("Bitcoin above $70,000|\u20bf 71,000 from mempool"));
}

// A price in euros is stored and recorded apart from the dollars', so that each currency
// shows its own last price after a switch, and a bar in euros beside an agent in dollars
// polls on its own.
TEST_F(AgentTest, eachCurrencyKeepsItsOwnPriceAndHistoryAndABarOfAnotherPollsAlone) {
    std::atomic<bool> up = true;
    services.server().Get(servicePaths[0], [&](const auto&, httplib::Response& response) {
        response.status = up ? 200 : 500;
        response.set_content(R"({"USD":67432.49,"EUR":61000.5})", "text/json");
    });
    services.start();
    const auto once = [&](const QStringList& arguments, const char* title, int status) {
        const auto program = run(QStringList{"--once"} + arguments);
        EXPECT_EQ(program->readLine(), title);
        EXPECT_EQ(program->waitForExit(), status);
        return program->standardError();
    };
    QFile file(settings().path());
    const auto setCurrency = [&](const QByteArray& code) { // the last line of a key counts
        file.open(QIODevice::Append);
        file.write("BrimwellTicker.Currency=" + code + "\n");
        file.close();
    };
    once({}, "\u20bf 67,432", 0);
    once({"--currency", "EUR"}, "\u20bf 61,000", 0);
    EXPECT_EQ(LastPriceCache(settings()).restore()->usd, 67432.49);
    file.open(QIODevice::ReadOnly);
    EXPECT_TRUE(file.readAll().contains(R"(LastPrice.EUR="@ByteArray({\"usd\":61000.5,)"));
    file.close();
    for (const auto& [name, usd] : {std::pair{"history", 67432.49}, {"history-EUR", 61000.5}}) {
        const auto points = PriceHistory(home.filePath("state/brimwell-ticker/") + name).read({});
        EXPECT_TRUE(points.size() == 1 && points[0].usd == usd) << name;
    }
    up = false; // each shows its own last price, whichever was fetched last
    once({}, "\u20bf 67,432", 1);
    setCurrency("EUR");
    once({}, "\u20bf 61,000", 1);
    setCurrency("eur");
    EXPECT_TRUE(once({}, "\u20bf 67,432", 1)
                    .startsWith("[ticker] BrimwellTicker.Currency 'eur' is not a currency; using "
                                "USD\nAll providers failed. "));
    up = true;
    setCurrency("EUR");
    ASSERT_TRUE(watcher.start());
    const auto dollars = agent({"--currency", "USD", "--interval", "3600"});
    ASSERT_TRUE(eventually([&] { return item("XAyatanaLabel") == "\u20bf 67,432"; }));
    const int before = services.requests;
    const auto bar = agent({"--bar=waybar", "--interval", "3600"});
    const QJsonObject record = QJsonDocument::fromJson(bar->readLine()->toUtf8()).object();
    EXPECT_EQ(record["text"], "\u20bf 61,000");
    EXPECT_TRUE(record["tooltip"].toString().contains("\u20bf \u2192 EUR\n"));
    EXPECT_TRUE(eventually([&] { return services.requests > before; }));
}

// The GUI program as the agent runs it, what it shows read from its log. Qt's offscreen
// platform takes no input from another process, so Refresh and Quit are pressed on a
// popover of this process that reads the agent over the bus as the GUI program's does.
TEST_F(AgentTest, activateShowsTheStateInTheGuiProgramWhoseButtonsDriveTheAgent) {
    services.server().Get(servicePaths[0], [&](const auto&, httplib::Response& response) {
        response.status = services.requests == 1 ? 200 : 503; // then every service fails
        response.set_content(mempoolBody, "application/json");
    });
    services.start();
    ASSERT_TRUE(watcher.start());
    QProcessEnvironment environment = session();
    environment.insert("QT_LOGGING_RULES", "brimwell.popover.debug=true");
    const auto ticker = run({"--interval", "3600"}, environment);
    ASSERT_TRUE(eventually([&] { return item("XAyatanaLabel") == "\u20bf 67,432"; }));
    const auto activate = [&] {
        call("/StatusNotifierItem", "org.kde.StatusNotifierItem", "Activate", {100, 10});
    };
    const auto shown = [&](const QString& text) {
        return eventually([&] { return ticker->standardError().contains(text); });
    };
    const auto children = [&] {
        QFile file(QString("/proc/%1/task/%1/children").arg(ticker->pid()));
        return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : "(unknown)";
    };
    activate();
    EXPECT_TRUE(shown("brimwell.popover: shows \u20bf 67,432 | \u20bf \u2192 USD | "
                      "Source mempool.space | Updated "));
    const QByteArray gui = children();
    ASSERT_TRUE(QFile::exists("/proc/" + gui + "/exe")) << gui.toStdString(); // one process

    RemoteFeed feed(host);
    PricePopoverView popover(feed, QLocale::c(), Clock::now, PriceHistory(home.filePath("h")));
    QObject::connect(&popover, &PricePopoverView::quitRequested, &feed, &RemoteFeed::quit);
    ASSERT_TRUE(eventually([&] { return feed.available(); }));
    popover.findChild<QPushButton*>("refresh")->click();
    EXPECT_TRUE(shown(" | All providers failed. mempool.space: "));
    EXPECT_EQ(services.requests, 6); // one pass more
    activate();
    EXPECT_TRUE(eventually([&] { return !QFile::exists("/proc/" + gui); }));
    EXPECT_EQ(children(), "");
    popover.findChild<QPushButton*>("quit")->click();
    EXPECT_EQ(ticker->waitForExit(), 0);
}

} // namespace
