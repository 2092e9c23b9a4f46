// The built program as users, status bars, panels and logins drive it: its command line,
// output, exit status, settings file and signals, against local HTTPS services, a private
// session bus and a panel host's watcher of the test's own.

#include "bus/dbus_types.h"
#include "fetch/last_price_cache.h"
#include "fetch/price_history.h"
#include "test_support.h"

#include <QDBusMessage>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
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
    EXPECT_EQ(version.readLine(), "brimwell-ticker 0.1.0");
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
    EXPECT_TRUE(first->endsWith(R"(Updated: 3 days","class":"stale"})")) << first->toStdString();
    services.release();
    const auto second = waybar->readLine();
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->endsWith(R"(Updated: less than 1 min","class":"ok"})"));
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
    // The age moves on every second while the host says the menu is open, and only then.
    Recorder updates;
    host.connect(watcher.items.value(0), "/MenuBar", "com.canonical.dbusmenu",
                 "ItemsPropertiesUpdated", &updates, SLOT(record(QDBusMessage)));
    const QVariant data = QVariant::fromValue(QDBusVariant(0));
    call("/MenuBar", "com.canonical.dbusmenu", "Event", {0, "opened", data, 0u});
    EXPECT_TRUE(eventually([&] { return updates.signals_.size() >= 2; }));
    call("/MenuBar", "com.canonical.dbusmenu", "Event", {0, "closed", data, 0u});
    QTest::qWait(100);
    const auto seen = updates.signals_.size();
    QTest::qWait(1500);
    EXPECT_EQ(updates.signals_.size(), seen);
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

TEST_F(AgentTest, aBarPollsAloneHandsOverToAnAgentAndTakesOverWhenItQuits) {
    services.answer(servicePaths[0], 200, mempoolBody);
    services.start();
    ASSERT_TRUE(watcher.start());
    TestNotifications desktop(host);
    QDir().mkpath(QFileInfo(settings().path()).path());
    QFile file(settings().path());
    file.open(QIODevice::WriteOnly);
    file.write("[General]\nBrimwellTicker.AlertAbove=60000\n");
    file.close();
    const auto bar = run({"--bar", "--interval", "2"}, session());
    EXPECT_EQ(bar->readLine(), "\u20bf ...");
    EXPECT_EQ(bar->readLine(), "\u20bf 67,432"); // the bar's own pass, and its alert
    const auto ticker = agent({"--interval", "2"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !watcher.items.isEmpty(); }, 5000));
    QTest::qWait(500);
    const int attached = services.requests;
    QTest::qWait(5000); // two or three passes of the agent's, none of the bar's
    EXPECT_LE(services.requests, attached + 3);
    EXPECT_EQ(desktop.shown.size(), 1); // the price known, the agent does not alert again
    call("/org/brimwell/Ticker", "org.brimwell.Ticker1", "Quit");
    EXPECT_EQ(ticker->waitForExit(), 0);
    const int before = services.requests;
    EXPECT_TRUE(QTest::qWaitFor([&] { return services.requests > before; }, 3000));
}

} // namespace
