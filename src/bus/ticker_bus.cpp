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

using TimePoint = std::chrono::system_clock::time_point;

qint64 unixMilliseconds(TimePoint time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// The quote times a stored record can hold: what a time point holds, about the years 1678
// to 2262.
constexpr qint64 earliestMs =
    std::chrono::ceil<std::chrono::milliseconds>(TimePoint::min().time_since_epoch()).count();
constexpr qint64 latestMs =
    std::chrono::floor<std::chrono::milliseconds>(TimePoint::max().time_since_epoch()).count();

// The value of a property if it has the type `T` stands for on the bus.
template <typename T>
std::optional<T> typed(const QVariantMap& properties, const char* name) {
    const QVariant value = properties.value(QLatin1String(name));
    if (value.typeId() != QMetaType::fromType<T>().id()) {
        return std::nullopt;
    }
    return value.value<T>();
}

// The one rule for every text property: at most maxTextLength characters, control
// characters written as escapes ("\x1b"), so that a text can neither break a bar's record
// nor pass for something else.
std::optional<QString> text(const QVariantMap& properties, const char* name) {
    const auto value = typed<QString>(properties, name);
    if (!value || value->size() > TickerBus::maxTextLength) {
        return std::nullopt;
    }
    QString escaped;
    for (const QChar c : *value) {
        const char16_t code = c.unicode();
        if (code < 0x20 || (code >= 0x7f && code < 0xa0)) {
            escaped += QStringLiteral("\\x%1").arg(uint(code), 2, 16, QLatin1Char('0'));
        } else {
            escaped += c;
        }
    }
    return escaped;
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
        {QStringLiteral("Currency"), QString::fromLatin1(state.currency.code)},
    };
}

std::optional<TickerState> TickerBus::state(const QVariantMap& properties) {
    const auto title = text(properties, "Title");
    const auto usd = typed<double>(properties, "Price");
    const auto source = text(properties, "Source");
    const auto updated = typed<qlonglong>(properties, "Updated");
    const auto error = text(properties, "LastError");
    const auto stale = typed<bool>(properties, "Stale");
    const auto change = text(properties, "Change");
    if (!title || !usd || !source || !updated || !error || !stale || !change) {
        return std::nullopt;
    }
    TickerState state;
    if (*title != placeholderTitle) {
        if (!isUsablePrice(*usd) || *updated < earliestMs || *updated > latestMs) {
            return std::nullopt;
        }
        state.latestPrice = BitcoinPrice{*usd, TimePoint(std::chrono::milliseconds(*updated)),
                                         source->toStdString()};
    }
    if (!error->isEmpty()) {
        state.lastError = *error;
    }
    state.stale = *stale;
    state.change = *change;
    // Newer than the others: an agent without it gives the whole failure text only.
    if (properties.contains(QStringLiteral("FailureSummary"))) {
        const auto summary = text(properties, "FailureSummary");
        if (!summary) {
            return std::nullopt;
        }
        state.failureSummary = *summary;
    }
    // Newer still: an agent without it shows US dollars.
    if (properties.contains(QStringLiteral("Currency"))) {
        const auto code = typed<QString>(properties, "Currency");
        const auto currency = code ? Currency::fromCode(code->toStdString()) : std::nullopt;
        if (!currency) {
            return std::nullopt;
        }
        state.currency = *currency;
    }
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

void TickerService::setOwnGui(std::function<QList<qint64>()> processIds) {
    ownGui_ = std::move(processIds);
}

void TickerService::refresh(const QDBusMessage& call) {
    const QList<qint64> gui = ownGui_ ? ownGui_() : QList<qint64>();
    if (gui.isEmpty() || bus_.interface() == nullptr) {
        feed_.refreshWhenIdle();
        return;
    }
    // Which process calls, from the bus, without waiting for it: the reply follows.
    call.setDelayedReply(true);
    const QDBusPendingCall asked =
        bus_.interface()->asyncCall(QStringLiteral("GetConnectionUnixProcessID"), call.service());
    auto* pending = new QDBusPendingCallWatcher(asked, this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this, call, gui](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                const QDBusPendingReply<uint> pid = *answer;
                if (!pid.isError() && gui.contains(qint64(pid.value()))) {
                    feed_.refresh();
                } else {
                    feed_.refreshWhenIdle();
                }
                bus_.send(call.createReply());
            });
}

TickerServiceAdaptor::TickerServiceAdaptor(TickerService* service)
    : QDBusAbstractAdaptor(service), service_(service) {}

QVariant TickerServiceAdaptor::value(const char* name) const {
    return service_->published_.value(QString::fromLatin1(name));
}

void TickerServiceAdaptor::Refresh(const QDBusMessage& call) {
    service_->refresh(call);
}

void TickerServiceAdaptor::Quit() {
    // After the reply has gone out, so the caller hears that it was done.
    QMetaObject::invokeMethod(service_, &TickerService::quitRequested, Qt::QueuedConnection);
}

RemoteFeed::RemoteFeed(QDBusConnection bus, std::chrono::milliseconds spacing, QObject* parent)
    : TickerFeed(parent), bus_(std::move(bus)) {
    spacing_.setSingleShot(true);
    spacing_.setInterval(spacing);
    connect(&spacing_, &QTimer::timeout, this, [this] {
        if (held_) {
            held_ = false;
            tell();
        }
    });
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
    answered_ = false;
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
                answered_ = true;
                properties_ = reply.value();
                update();
            });
}

void RemoteFeed::propertiesChanged(const QString& interface, const QVariantMap& values,
                                   const QStringList&) {
    if (interface != TickerBus::interfaceName || !answered_) {
        return;
    }
    for (auto entry = values.cbegin(); entry != values.cend(); ++entry) {
        properties_.insert(entry.key(), entry.value());
    }
    update();
}

void RemoteFeed::update() {
    const auto checked = TickerBus::state(properties_);
    state_ = checked.value_or(TickerState{});
    if (checked.has_value() != available_) {
        available_ = checked.has_value();
        emit availableChanged(available_);
    }
    tell();
}

void RemoteFeed::tell() {
    if (spacing_.isActive()) {
        held_ = true;
        return;
    }
    emit changed();
    spacing_.start();
}
