#pragma once

#include "fetch/last_price_cache.h"
#include "fetch/polling_task.h"
#include "price/price_provider.h"

#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QThreadPool>

#include <memory>
#include <optional>
#include <vector>

// The one object that knows where the price comes from: it asks its providers in failover
// order, one at a time, until one answers, and publishes the latest price, whether a pass
// is running and the text of the last total failure. Lives on the main thread; only the
// provider calls run elsewhere.
//
// Every assignment of a published value notifies, equal values included: first
// objectWillChange(), then the value is stored and its own signal carries it.
class PriceFetcher : public QObject {
    Q_OBJECT

public:
    using Providers = std::vector<std::shared_ptr<const PriceProvider>>;

    // Restores the stored last price, if `cache` holds one. Makes no request and starts no
    // polling.
    PriceFetcher(Providers providers, std::optional<LastPriceCache> cache,
                 QObject* parent = nullptr);

    const std::optional<BitcoinPrice>& latestPrice() const { return latestPrice_; }
    bool isFetching() const { return isFetching_; }
    const std::optional<QString>& lastError() const { return lastError_; }

    // One failover pass. Passes are not serialised: a pass started while another runs goes
    // its own way through the whole list. The future finishes when the pass has published
    // its outcome (it is cancelled instead if the fetcher goes away first).
    QFuture<void> fetchOnce();

    // Runs a pass now and then again `interval` seconds after each pass has ended, until
    // stopPolling(); a second start replaces the first.
    void startPolling(double interval);
    void stopPolling();
    // The running polling task, if any.
    PollingTask* pollTask() const { return pollTask_; }

    // Hands `receiver` the current value, then every value assigned. With a queued
    // connection the current value, too, arrives on a later turn of the event loop.
    template <typename Receiver>
    QMetaObject::Connection subscribeLatestPrice(QObject* context, Receiver receiver,
                                                 Qt::ConnectionType type = Qt::AutoConnection) {
        return subscribe(&PriceFetcher::latestPriceChanged, latestPrice_, context,
                         std::move(receiver), type);
    }
    template <typename Receiver>
    QMetaObject::Connection subscribeIsFetching(QObject* context, Receiver receiver,
                                                Qt::ConnectionType type = Qt::AutoConnection) {
        return subscribe(&PriceFetcher::isFetchingChanged, isFetching_, context,
                         std::move(receiver), type);
    }
    template <typename Receiver>
    QMetaObject::Connection subscribeLastError(QObject* context, Receiver receiver,
                                               Qt::ConnectionType type = Qt::AutoConnection) {
        return subscribe(&PriceFetcher::lastErrorChanged, lastError_, context, std::move(receiver),
                         type);
    }

signals:
    void objectWillChange();
    // Once per turn of the event loop in which values were assigned, after all of them:
    // for views that show several values together (a pass sets the price and clears the
    // failure one after the other).
    void changed();
    void latestPriceChanged(const std::optional<BitcoinPrice>& latestPrice);
    void isFetchingChanged(bool isFetching);
    void lastErrorChanged(const std::optional<QString>& lastError);

private:
    struct Pass;

    void ask(std::shared_ptr<Pass> pass);
    void answered(std::shared_ptr<Pass> pass, std::expected<BitcoinPrice, PriceError> answer);

    void setLatestPrice(std::optional<BitcoinPrice> price);
    void setIsFetching(bool fetching);
    void setLastError(std::optional<QString> error);
    void announceChange();

    template <typename Signal, typename Value, typename Receiver>
    QMetaObject::Connection subscribe(Signal signal, const Value& current, QObject* context,
                                      Receiver receiver, Qt::ConnectionType type) {
        if (type == Qt::QueuedConnection) {
            QMetaObject::invokeMethod(
                context, [receiver, current] { receiver(current); }, Qt::QueuedConnection);
        } else {
            receiver(current);
        }
        return connect(this, signal, context, std::move(receiver), type);
    }

    std::optional<BitcoinPrice> latestPrice_;
    bool isFetching_ = false;
    std::optional<QString> lastError_;
    const Providers providers_;
    std::optional<LastPriceCache> cache_;
    QPointer<PollingTask> pollTask_;
    bool changePending_ = false;
    // The provider calls block for up to their time limits, so they get their own threads
    // rather than the shared pool.
    QThreadPool workers_;
};
