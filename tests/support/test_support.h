#pragma once

// What the tests share: HTTPS servers on 127.0.0.1 that answer under the five price
// services' real host names (certificates from a test CA kept in certs/), captured log
// lines, a private D-Bus daemon with a panel host's watcher, and the built programs.

#include "price/https_transfer.h"
#include "view/ticker_feed.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTemporaryFile>
#include <QTest>
#include <QVariant>
#include <httplib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

// Test failures show texts as texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QVariant& value, std::ostream* out) {
    *out << value.toString().toStdString();
}

// How long a test waits for what it expects: far beyond what anything takes on a loaded
// machine, so that only what never comes fails.
constexpr std::chrono::milliseconds patience = 60s;

// Waits for `condition` while the event loop runs, up to `patience`.
template <typename Condition>
bool eventually(Condition condition) {
    return QTest::qWaitFor(condition, int(patience.count()));
}

// The paths (and queries) the five providers ask, in failover order.
inline const char* const servicePaths[] = {"/api/v1/prices", "/v2/prices/BTC-USD/spot",
                                           "/0/public/Ticker", "/ticker", "/api/v3/simple/price"};

// One HTTPS server for all five services. It answers 404 to what it has no handler for.
class LocalServices {
public:
    // `certificate`: "server" (valid for the five hosts), "other-host" (valid for another
    // name) or "self-signed" (for the five hosts, from no known authority).
    explicit LocalServices(const std::string& certificate = "server");
    ~LocalServices();

    httplib::Server& server() { return *server_; }
    void answer(const std::string& path, int status, const std::string& body);
    void start();
    // Blocks a handler until release(), the server stops, or `limit` has passed.
    void hold(std::chrono::milliseconds limit = 1h);
    void release() { released_ = true; }

    RequestOptions options(TransferLimits limits = {}) const;
    QStringList arguments() const; // --connect-to ... --cacert ...
    std::atomic<int> requests = 0;

private:
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
    std::atomic<bool> stopping_ = false;
    std::atomic<bool> released_ = false;
};

// A feed whose state the test sets.
class TestFeed : public TickerFeed {
public:
    TickerState current;
    int refreshed = 0;
    int refreshedWhenIdle = 0;
    TickerState state() const override { return current; }
    void refresh() override { ++refreshed; }
    void refreshWhenIdle() override { ++refreshedWhenIdle; }
    void set(TickerState state) {
        current = std::move(state);
        emit changed();
    }
};

// Every line the log sink writes while one of these lives.
class LogLines {
public:
    LogLines();
    ~LogLines();
    std::vector<std::string> lines() const;

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A dbus-daemon of the test's own, ended with it.
class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();
    QString address() const { return address_; }
    QDBusConnection connect(const QString& name);
    void stop() { daemon_.kill(); }

    // A method call on `connection`, its reply (an error after `patience`) waited for
    // while the event loop runs, so objects of this process can answer too. Not
    // QDBus::BlockWithGui: in Qt 6.4 it can miss a reply that comes at once, and then waits
    // for ever.
    static QDBusMessage call(const QDBusConnection& connection, const QDBusMessage& message);

private:
    QTemporaryFile config_;
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// A panel host's org.kde.StatusNotifierWatcher: it records the items that register, and
// shows none of them. With `lists`, it has RegisteredStatusNotifierItems, saying `listed`.
class TestWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems MEMBER listed)

public:
    explicit TestWatcher(QDBusConnection bus) : bus_(std::move(bus)) {}
    bool start(bool lists = false);
    void stop();
    QStringList items;
    QStringList listed;

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service) { items << service; }

signals:
    Q_SCRIPTABLE void StatusNotifierItemUnregistered(const QString& item);

private:
    QDBusConnection bus_;
};

// Every signal a bus object sends, as a host sees it (connect it to `record`).
class Recorder : public QObject {
    Q_OBJECT

public:
    QList<QDBusMessage> signals_;

public slots:
    void record(const QDBusMessage& message) { signals_ << message; }
};

// A desktop's org.freedesktop.Notifications: it records summary and body of each Notify.
class TestNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit TestNotifications(QDBusConnection bus);
    QStringList shown; // "summary|body|icon"

public slots:
    Q_SCRIPTABLE uint Notify(const QString& app, uint replaces, const QString& icon,
                             const QString& summary, const QString& body,
                             const QStringList& actions, const QVariantMap& hints, int timeout);
};

// The built brimwell-ticker, run as a user or a status bar runs it; `command`, to run it
// through another program.
class Program {
public:
    Program(const QStringList& arguments, const QProcessEnvironment& environment,
            const QStringList& command = {binary()});
    ~Program();
    // The next line of stdout, without its end; nullopt when none came in time.
    std::optional<QString> readLine(std::chrono::milliseconds timeout = patience);
    // The exit status; nullopt when still running after `timeout`.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = patience);
    QString standardError();
    void signal(int number);
    // Waits until the program has put a handler on `number`.
    bool handles(int number);
    qint64 pid() const { return process_.processId(); }

    static QString binary();
    // A fresh user: settings, state and data in `home`, the C.UTF-8 locale, no display and
    // no session bus, whatever the machine has installed.
    static QProcessEnvironment user(const QString& home);

private:
    QProcess process_;
    QByteArray out_;
    QByteArray err_;
};
