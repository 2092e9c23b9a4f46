#pragma once

#include "fetch/last_price_cache.h"
#include "price/price_provider.h"

#include <QFuture>
#include <QObject>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>

// The one object that knows where the price comes from: it asks its providers in failover
// order, one at a time, until one answers, and publishes the latest price, whether a pass
// is running and the text of the last total failure. It also polls: a pass at once, then
// one each time the interval has passed since the end of the previous pass. Lives on the
// main thread; only the provider calls run elsewhere.
//
// Every assignment of a published value notifies, equal values included: first
// objectWillChange(), then the value is stored and its own signal carries it.
class PriceFetcher : public QObject {
    Q_OBJECT

public:
    static constexpr double defaultInterval = 60;

    // Restores the stored last price, if `cache` holds one. Makes no request and starts no
    // polling. `currency`: what the providers and the cache quote prices in.
    PriceFetcher(Providers providers, std::optional<LastPriceCache> cache,
                 Currency currency = Currency::usd(), QObject* parent = nullptr);

    const Currency& currency() const { return currency_; }
    const std::optional<BitcoinPrice>& latestPrice() const { return latestPrice_; }
    bool isFetching() const { return isFetching_; }
    const std::optional<QString>& lastError() const { return lastError_; }
    // The last total failure in one short line, from the providers' causes: "No price
    // service answered: HTTP 500 (3), timed out (2)". Empty while lastError() is; set and
    // cleared together with it.
    const QString& failureSummary() const { return failureSummary_; }

    // The line for a total failure whose providers failed for `causes`, in failover order:
    // each cause once, in the order it first came, with how many providers it stopped.
    static QString summarizeFailures(const QStringList& causes);

    // One failover pass. Passes are not serialised: a pass started while another runs goes
    // its own way through the whole list. The future finishes when the pass has published
    // its outcome (it is cancelled instead if the fetcher goes away first).
    QFuture<void> fetchOnce();

    // A pass for a trigger that may come in bursts (a script's Refresh, a signal): one
    // starts at once when no pass is running; while one runs, any number of these make one
    // pass after the last running pass has ended.
    void fetchWhenIdle();

    // Takes the newest of its own price, `known` (one published elsewhere) and the stored
    // record as its latest price, so that it shows nothing older than what was shown
    // before it took over: a status bar that polls again after the agent went away, say.
    void catchUp(const std::optional<BitcoinPrice>& known);

    // Runs a pass when the event loop next runs, then again `interval` seconds after each
    // pass has ended, until stopPolling(). A second start replaces the first loop; a pass
    // that the old loop started still ends and publishes, and starts nothing after it. An
    // interval whose nanoseconds do not fit 64 unsigned bits is logged and 60 is used.
    void startPolling(double interval);
    void stopPolling();

    // The sleep for `interval` seconds in nanoseconds, truncated toward zero; nullopt when
    // the count does not fit an unsigned 64-bit number (below -1 ns, not finite, 2^64 ns or
    // more).
    static std::optional<std::uint64_t> sleepNanoseconds(double interval);

    // Hands `receiver` the current value of the published value that `signal` carries,
    // then every value assigned. With a queued connection the current value, too, arrives
    // on a later turn of the event loop.
    template <typename Value, typename Receiver>
    QMetaObject::Connection subscribe(void (PriceFetcher::*signal)(const Value&), QObject* context,
                                      Receiver receiver,
                                      Qt::ConnectionType type = Qt::AutoConnection) {
        const Value current = currentValue<Value>();
        if (type == Qt::QueuedConnection) {
            QMetaObject::invokeMethod(
                context, [receiver, current] { receiver(current); }, Qt::QueuedConnection);
        } else {
            receiver(current);
        }
        return connect(this, signal, context, std::move(receiver), type);
    }

signals:
    void objectWillChange();
    // Once per turn of the event loop in which values were assigned, after all of them:
    // for views that show several values together (a pass sets the price and clears the
    // failure one after the other).
    void changed();
    void latestPriceChanged(const std::optional<BitcoinPrice>& latestPrice);
    void isFetchingChanged(const bool& isFetching);
    void lastErrorChanged(const std::optional<QString>& lastError);
    // A pass got a price; `previous` is the price it replaces.
    void priceFetched(const BitcoinPrice& price, const std::optional<BitcoinPrice>& previous);

private:
    struct Pass;

    QFuture<void> startPass(std::uint64_t pollGeneration);
    void ask(std::shared_ptr<Pass> pass);
    void finish(Pass& pass);
    void answered(std::shared_ptr<Pass> pass, std::expected<BitcoinPrice, PriceError> answer);

    void setLatestPrice(std::optional<BitcoinPrice> price);
    void setIsFetching(bool fetching);
    void setLastError(std::optional<QString> error, QString summary = {});
    void announceChange();

    template <typename Value>
    Value currentValue() const;

    void poll(std::uint64_t generation);
    void sleepUntilNextPass();
    void armPollTimer();

    std::optional<BitcoinPrice> latestPrice_;
    bool isFetching_ = false;
    std::optional<QString> lastError_;
    QString failureSummary_;
    const Providers providers_;
    std::optional<LastPriceCache> cache_;
    const Currency currency_;
    bool changePending_ = false;
    int running_ = 0;            // passes under way
    bool passRequested_ = false; // by fetchWhenIdle() while passes ran
    // The provider calls block for up to their time limits, so they get their own threads
    // rather than the shared pool.
    QThreadPool workers_;

    // The polling loop: which loop is current (a pass of an older one starts nothing when
    // it ends), the sleep between passes, and the timer that ends it.
    std::uint64_t pollGeneration_ = 0;
    bool polling_ = false;
    std::uint64_t sleepNs_ = 0;
    QTimer pollTimer_;
    std::chrono::steady_clock::time_point wakeAt_;
};

template <>
inline std::optional<BitcoinPrice> PriceFetcher::currentValue() const {
    return latestPrice_;
}
template <>
inline bool PriceFetcher::currentValue() const {
    return isFetching_;
}
template <>
inline std::optional<QString> PriceFetcher::currentValue() const {
    return lastError_;
}
