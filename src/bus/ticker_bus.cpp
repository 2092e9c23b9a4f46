#include "ticker_bus.h"

#include "view/price_text.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusServiceWatcher>

namespace {

const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

qint64 unixMilliseconds(std::chrono::system_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

} // namespace

QVariantMap TickerBus::properties(const TickerState& state, const QLocale& locale) {
    const auto& price = state.latestPrice;
    return {
        {QStringLiteral("Title"), statusItemTitle(price, locale)},
        {QStringLiteral("Price"), price ? price->usd : 0.0},
        {QStringLiteral("Source"), price ? QString::fromStdString(price->source) : QString()},
        {QStringLiteral("Updated"), price ? unixMilliseconds(price->timestamp) : qint64(0)},
        {QStringLiteral("LastError"), state.lastError.value_or(QString())},
        {QStringLiteral("FailureSummary"), state.failureSummary},
        {QStringLiteral("Stale"), state.stale},
        {QStringLiteral("Change"), state.change},
    };
}

TickerState TickerBus::state(const QVariantMap& properties) {
    TickerState state;
    if (properties.value(QStringLiteral("Title")).toString() != placeholderTitle) {
        BitcoinPrice price;
        price.usd = properties.value(QStringLiteral("Price")).toDouble();
        price.timestamp = std::chrono::system_clock::time_point(
            std::chrono::milliseconds(properties.value(QStringLiteral("Updated")).toLongLong()));
        price.source = properties.value(QStringLiteral("Source")).toString().toStdString();
        state.latestPrice = price;
    }
    const QString error = properties.value(QStringLiteral("LastError")).toString();
    if (!error.isEmpty()) {
        state.lastError = error;
    }
    state.stale = properties.value(QStringLiteral("Stale")).toBool();
    state.change = properties.value(QStringLiteral("Change")).toString();
    state.failureSummary = properties.value(QStringLiteral("FailureSummary")).toString();
    return state;
}

TickerService::TickerService(QDBusConnection bus, TickerFeed& feed, QLocale locale, QObject* parent)
    : QObject(parent), bus_(std::move(bus)), feed_(feed), locale_(std::move(locale)) {
    new TickerServiceAdaptor(this);
    published_ = TickerBus::properties(feed_.state(), locale_);
    connect(&feed_, &TickerFeed::changed, this, &TickerService::publish);
}

TickerService::~TickerService() {
    if (started_) {
        bus_.unregisterObject(TickerBus::objectPath);
    }
}

TickerService::Claim TickerService::claim(QDBusConnection bus, qint64* owner) {
    QDBusConnectionInterface* daemon = bus.interface();
    if (!bus.isConnected() || daemon == nullptr) {
        return Claim::failed;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        daemon->registerService(TickerBus::serviceName, QDBusConnectionInterface::DontQueueService,
                                QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid()) {
        return Claim::failed;
    }
    if (reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        return Claim::owned;
    }
    const QDBusReply<uint> pid = daemon->servicePid(TickerBus::serviceName);
    *owner = pid.isValid() ? pid.value() : 0;
    return Claim::taken;
}

bool TickerService::start() {
    started_ = bus_.registerObject(TickerBus::objectPath, this, QDBusConnection::ExportAdaptors);
    return started_;
}

void TickerService::publish() {
    const QVariantMap now = TickerBus::properties(feed_.state(), locale_);
    QVariantMap changed;
    for (auto entry = now.cbegin(); entry != now.cend(); ++entry) {
        if (published_.value(entry.key()) != entry.value()) {
            changed.insert(entry.key(), entry.value());
        }
    }
    published_ = now;
    if (changed.isEmpty() || !started_) {
        return;
    }
    QDBusMessage signal = QDBusMessage::createSignal(TickerBus::objectPath, propertiesInterface,
                                                     QStringLiteral("PropertiesChanged"));
    signal << TickerBus::interfaceName << changed << QStringList();
    bus_.send(signal);
}

TickerServiceAdaptor::TickerServiceAdaptor(TickerService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

QVariant TickerServiceAdaptor::value(const char* name) const {
    return service_->published_.value(QString::fromLatin1(name));
}

void TickerServiceAdaptor::Refresh() {
    service_->feed_.refresh();
}

void TickerServiceAdaptor::Quit() {
    // After the reply has gone out, so the caller hears that it was done.
    QMetaObject::invokeMethod(service_, &TickerService::quitRequested, Qt::QueuedConnection);
}

RemoteFeed::RemoteFeed(QDBusConnection bus, QObject* parent)
    : TickerFeed(parent), bus_(std::move(bus)) {
    auto* watcher = new QDBusServiceWatcher(TickerBus::serviceName, bus_,
                                            QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) { ownerChanged(owner); });
    bus_.connect(TickerBus::serviceName, TickerBus::objectPath, propertiesInterface,
                 QStringLiteral("PropertiesChanged"), this,
                 SLOT(propertiesChanged(QString, QVariantMap, QStringList)));
    if (bus_.interface() != nullptr &&
        bus_.interface()->isServiceRegistered(TickerBus::serviceName)) {
        readAll();
    }
}

void RemoteFeed::refresh() {
    bus_.send(QDBusMessage::createMethodCall(TickerBus::serviceName, TickerBus::objectPath,
                                             TickerBus::interfaceName, QStringLiteral("Refresh")));
}

void RemoteFeed::quit() {
    bus_.send(QDBusMessage::createMethodCall(TickerBus::serviceName, TickerBus::objectPath,
                                             TickerBus::interfaceName, QStringLiteral("Quit")));
}

void RemoteFeed::ownerChanged(const QString& owner) {
    if (!owner.isEmpty()) {
        readAll();
        return;
    }
    properties_.clear();
    state_ = {};
    if (available_) {
        available_ = false;
        emit availableChanged(false);
        emit changed();
    }
}

void RemoteFeed::readAll() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(TickerBus::serviceName, TickerBus::objectPath,
                                       propertiesInterface, QStringLiteral("GetAll"));
    call << TickerBus::interfaceName;
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QVariantMap> reply = *call;
                if (reply.isError()) {
                    return;
                }
                properties_ = reply.value();
                state_ = TickerBus::state(properties_);
                if (!available_) {
                    available_ = true;
                    emit availableChanged(true);
                }
                emit changed();
            });
}

void RemoteFeed::propertiesChanged(const QString& interface, const QVariantMap& values,
                                   const QStringList&) {
    if (interface != TickerBus::interfaceName || !available_) {
        return;
    }
    for (auto entry = values.cbegin(); entry != values.cend(); ++entry) {
        properties_.insert(entry.key(), entry.value());
    }
    state_ = TickerBus::state(properties_);
    emit changed();
}
