#include "alert_notifications.h"

#include "bus/status_notifier_item.h"
#include "price/log_sink.h"
#include "view/price_text.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QFileInfo>

#include <cmath>

AlertNotifications::AlertNotifications(QDBusConnection bus, SettingsFile settings,
                                       AlertLevels commandLine, std::optional<double> previous,
                                       QLocale locale, Currency currency, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), settings_(std::move(settings)),
      commandLine_(commandLine), locale_(std::move(locale)), currency_(currency),
      alerts_(previous) {
    reread_.setSingleShot(true);
    reread_.setInterval(0);
    connect(&reread_, &QTimer::timeout, this, &AlertNotifications::readLevels);
    connect(&watcher_, &QFileSystemWatcher::fileChanged, &reread_, qOverload<>(&QTimer::start));
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, &reread_,
            qOverload<>(&QTimer::start));
    readLevels();
}

void AlertNotifications::useSettingsLevels(bool use) {
    if (use != useSettings_) {
        useSettings_ = use;
        readLevels();
    }
}

void AlertNotifications::readLevels() {
    watch();
    const AlertLevels stored = useSettings_ ? readAlertLevels(settings_, currency_) : AlertLevels{};
    alerts_.setLevels({commandLine_.above ? commandLine_.above : stored.above,
                       commandLine_.below ? commandLine_.below : stored.below});
}

void AlertNotifications::watch() {
    QStringList wanted;
    if (useSettings_ && (!commandLine_.above || !commandLine_.below)) {
        // The file for edits in place; its folder for a store's or an editor's rename, and
        // while the folder does not exist the nearest one above it that does, where its
        // making shows. Each event comes here again, so the watch follows.
        const QFileInfo file(settings_.path());
        if (file.exists()) {
            wanted << file.filePath();
        }
        QString directory = file.absolutePath();
        while (!QFileInfo(directory).isDir() && directory != QDir::rootPath()) {
            directory = QFileInfo(directory).absolutePath();
        }
        wanted << directory;
    }
    const QStringList watched = watcher_.files() + watcher_.directories();
    for (const QString& path : watched) {
        if (!wanted.contains(path)) {
            watcher_.removePath(path);
        }
    }
    for (const QString& path : wanted) {
        if (!watched.contains(path)) {
            watcher_.addPath(path);
        }
    }
}

void AlertNotifications::observe(const BitcoinPrice& price) {
    for (const PriceAlerts::Alert& alert : alerts_.observe(price.usd)) {
        notify(summary(alert, currency_), statusItemTitle(price, locale_) +
                                              QStringLiteral(" from ") +
                                              QString::fromStdString(price.source));
    }
}

QString AlertNotifications::summary(const PriceAlerts::Alert& alert, const Currency& currency) {
    // Amounts as Americans write dollars, whatever the currency, the fraction only when the
    // level has one.
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const bool whole = std::trunc(alert.level) == alert.level;
    return QStringLiteral("Bitcoin %1 %2%3")
        .arg(alert.above ? QStringLiteral("above") : QStringLiteral("below"),
             QString::fromUtf8(currency.sign.data(), qsizetype(currency.sign.size())),
             english.toString(alert.level, 'f', whole ? 0 : 2));
}

QDBusPendingCall showDesktopNotification(const QDBusConnection& bus, const QString& summary,
                                         const QString& body) {
    const QString service = AlertNotifications::service;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, QStringLiteral("/org/freedesktop/Notifications"),
                                       service, QStringLiteral("Notify"));
    call << QStringLiteral("Brimwell Ticker") << 0u << tickerSniIcon(IconVariant::normal).name
         << summary << body << QStringList() << QVariantMap() << -1;
    return bus.asyncCall(call);
}

void AlertNotifications::notify(const QString& summary, const QString& body) {
    auto* pending = new QDBusPendingCallWatcher(showDesktopNotification(bus_, summary, body), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [summary](QDBusPendingCallWatcher* reply) {
                reply->deleteLater();
                if (!reply->isError()) {
                    return;
                }
                const QDBusError error = reply->error();
                LogSink::write(error.type() == QDBusError::ServiceUnknown
                                   ? "[ticker] no notification service on the session bus; "
                                     "not shown: " +
                                         summary.toStdString()
                                   : "[ticker] alert not shown (" + error.message().toStdString() +
                                         "): " + summary.toStdString());
            });
}
