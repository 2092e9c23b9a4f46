#pragma once

#include "view/ticker_feed.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLocale>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <functional>
#include <optional>

// org.brimwell.Ticker1 at /org/brimwell/Ticker on the session bus: the panel agent's state,
// for its popover, for status bars that attach to it and for scripts, with its Refresh and
// Quit. The agent owns the name, which also keeps it to one agent per session.
namespace TickerBus {
inline const QString serviceName = QStringLiteral("org.brimwell.Ticker1");
inline const QString objectPath = QStringLiteral("/org/brimwell/Ticker");
inline const QString interfaceName = QStringLiteral("org.brimwell.Ticker1");
// The exit status of the GUI process in tray mode when the display has no system tray.
constexpr int noTrayExitStatus = 3;

// The longest text a property may hold; the failure text of five providers takes about
// 500 characters.
constexpr qsizetype maxTextLength = 1024;

// The properties for a state, as the interface carries them.
QVariantMap properties(const TickerState& state, const QLocale& locale);
// The state the properties describe, checked as a price service's answer is: nullopt when
// a property is missing or of another type, when `Title` says there is a price and `Price`
// is no usable price or `Updated` lies outside what a stored record can hold, when a
// text is longer than maxTextLength, or when `Currency` is no currency's code (without
// it, US dollars). Control characters in texts come back as escapes.
std::optional<TickerState> state(const QVariantMap& properties);
} // namespace TickerBus

// Exports a feed under TickerBus::serviceName. Properties: Title (s), Price (d, 0 without
// a price), Source (s), Updated (x, Unix milliseconds, 0 without a price), LastError (s,
// empty without a failure), FailureSummary (s, the failure in one short line), Stale (b),
// Change (s), Currency (s, the code of what Price is in); PropertiesChanged names the ones
// that changed. Methods: Refresh(), Quit().
class TickerService : public QObject {
    Q_OBJECT

public:
    TickerService(QDBusConnection bus, TickerFeed& feed, QLocale locale, QObject* parent = nullptr);
    ~TickerService() override;

    enum class Claim { owned, taken, failed };
    // Takes the service name, never queueing for it. `taken`: another process has it, and
    // `owner` is set to its pid (0 when the bus does not say).
    static Claim claim(QDBusConnection bus, qint64* owner);

    // Exports the object; false when the bus refuses.
    bool start();

    const QVariantMap& published() const { return published_; }

    // The processes of the program's own GUI (its popover's Refresh button starts a pass
    // at each press); any other caller's Refresh is braked as a script's.
    void setOwnGui(std::function<QList<qint64>()> processIds);

signals:
    void quitRequested();

private:
    friend class TickerServiceAdaptor;
    void publish();
    void refresh(const QDBusMessage& call);

    QDBusConnection bus_;
    TickerFeed& feed_;
    QLocale locale_;
    QVariantMap published_;
    bool started_ = false;
    std::function<QList<qint64>()> ownGui_;
};

class TickerServiceAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.brimwell.Ticker1")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"org.brimwell.Ticker1\">\n"
                "    <property name=\"Title\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Price\" type=\"d\" access=\"read\"/>\n"
                "    <property name=\"Source\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Updated\" type=\"x\" access=\"read\"/>\n"
                "    <property name=\"LastError\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"FailureSummary\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Stale\" type=\"b\" access=\"read\"/>\n"
                "    <property name=\"Change\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Currency\" type=\"s\" access=\"read\"/>\n"
                "    <method name=\"Refresh\"/>\n"
                "    <method name=\"Quit\"/>\n"
                "  </interface>\n")
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(double Price READ price)
    Q_PROPERTY(QString Source READ source)
    Q_PROPERTY(qlonglong Updated READ updated)
    Q_PROPERTY(QString LastError READ lastError)
    Q_PROPERTY(QString FailureSummary READ failureSummary)
    Q_PROPERTY(bool Stale READ stale)
    Q_PROPERTY(QString Change READ change)
    Q_PROPERTY(QString Currency READ currency)

public:
    explicit TickerServiceAdaptor(TickerService* service);

    QString title() const { return value("Title").toString(); }
    double price() const { return value("Price").toDouble(); }
    QString source() const { return value("Source").toString(); }
    qlonglong updated() const { return value("Updated").toLongLong(); }
    QString lastError() const { return value("LastError").toString(); }
    QString failureSummary() const { return value("FailureSummary").toString(); }
    bool stale() const { return value("Stale").toBool(); }
    QString change() const { return value("Change").toString(); }
    QString currency() const { return value("Currency").toString(); }

public slots:
    void Refresh(const QDBusMessage& call);
    void Quit();

private:
    QVariant value(const char* name) const;

    TickerService* service_;
};

// The agent's state, read over the bus: a TickerFeed for a popover or a status bar in
// another process. It follows the name's owner: `available` says whether an agent answers
// with a state that passes TickerBus::state's checks (an owner that publishes anything
// else is no usable agent), and says `changed` whenever that or the state changes, and
// when the owner's first answer is in; but no sooner than `spacing` after it said so
// before, whatever the owner sends (then once, for the newest state). Nothing waits on
// the agent.
class RemoteFeed : public TickerFeed {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds defaultSpacing{200};

    explicit RemoteFeed(QDBusConnection bus, std::chrono::milliseconds spacing = defaultSpacing,
                        QObject* parent = nullptr);

    bool available() const { return available_; }
    TickerState state() const override { return state_; }
    void refresh() override;
    void quit();

signals:
    // An agent came or went.
    void availableChanged(bool available);

private:
    void ownerChanged(const QString& owner);
    void readAll();
    void update();
    void tell();

private slots:
    void propertiesChanged(const QString& interface, const QVariantMap& values,
                           const QStringList& invalidated);

private:
    QDBusConnection bus_;
    QVariantMap properties_;
    TickerState state_;
    bool answered_ = false; // the owner has given all its properties
    bool available_ = false;
    QTimer spacing_; // runs from each `changed` on; a change meanwhile waits for it
    bool held_ = false;
};
