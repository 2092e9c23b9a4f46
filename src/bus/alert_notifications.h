#pragma once

#include "fetch/price_alerts.h"
#include "price/price_provider.h"

#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QObject>
#include <QTimer>

// Shows a desktop notification (org.freedesktop.Notifications) with the program's name and
// icon; whoever cares whether it was shown watches the reply.
QDBusPendingCall showDesktopNotification(const QDBusConnection& bus, const QString& summary,
                                         const QString& body);

// Price alerts as desktop notifications (org.freedesktop.Notifications on the session bus):
// summary "Bitcoin above $70,000" (or below, and "€70,000", "CHF 70,000" in other
// currencies), body the title and the source, the item's icon. Levels and prices are in
// the run's currency. The levels are this run's command line's where it gives them, else the
// settings file's, read at start and again whenever the file changes on disk (a file watch that
// follows the file through renames, and waits for it where it does not exist yet).
class AlertNotifications : public QObject {
    Q_OBJECT

public:
    static inline const QString service = QStringLiteral("org.freedesktop.Notifications");

    // `previous`: the price known before the first pass (the stored one).
    AlertNotifications(QDBusConnection bus, SettingsFile settings, AlertLevels commandLine,
                       std::optional<double> previous, QLocale locale,
                       Currency currency = Currency::usd(), QObject* parent = nullptr);

    // A successful pass's price.
    void observe(const BitcoinPrice& price);

    // The levels in force.
    AlertLevels levels() const { return alerts_.levels(); }

    // Whether the settings file's levels count: not while the agent, which alerts on them
    // itself, gives the prices.
    void useSettingsLevels(bool use);

    // "Bitcoin above $70,000", "Bitcoin below $60,000.50", "Bitcoin above CHF 70,000".
    static QString summary(const PriceAlerts::Alert& alert,
                           const Currency& currency = Currency::usd());

private:
    void readLevels();
    void watch();
    void notify(const QString& summary, const QString& body);

    QDBusConnection bus_;
    SettingsFile settings_;
    AlertLevels commandLine_;
    QLocale locale_;
    Currency currency_;
    PriceAlerts alerts_;
    bool useSettings_ = true;
    QFileSystemWatcher watcher_;
    // One read for the several events that one change of the file (a store's rename, an
    // editor's save) gives.
    QTimer reread_;
};
