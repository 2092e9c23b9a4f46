#include "price_fetcher.h"

#include "polling_task.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>

namespace {

using Answer = std::expected<BitcoinPrice, PriceError>;

// Runs on a worker. Nothing may escape it as an exception: a provider that throws (out
// of memory, say) counts as a failed transfer.
Answer callProvider(const PriceProvider& provider) {
    try {
        return provider.fetchPrice();
    } catch (const std::exception& error) {
        return std::unexpected(PriceError::network({0, error.what()}));
    } catch (...) {
        return std::unexpected(PriceError::network({0, "unknown failure"}));
    }
}

} // namespace

struct PriceFetcher::Pass {
    QPromise<void> promise;
    Providers providers;
    std::size_t next = 0;
    QStringList failures;
};

PriceFetcher::PriceFetcher(Providers providers, std::optional<LastPriceCache> cache,
                           QObject* parent)
    : QObject(parent), providers_(std::move(providers)), cache_(std::move(cache)) {
    workers_.setMaxThreadCount(4);
    // Workers stay once started. With the default expiry, a pass a minute would start a
    // thread each time and wake the process half a minute later to end it; a parked
    // worker costs nothing while it waits (its stack would stay cached anyway).
    workers_.setExpiryTimeout(-1);
    if (cache_) {
        if (auto restored = cache_->restore()) {
            setLatestPrice(std::move(restored));
        }
    }
}

QFuture<void> PriceFetcher::fetchOnce() {
    auto pass = std::make_shared<Pass>();
    pass->providers = providers_;
    pass->promise.start();
    QFuture<void> finished = pass->promise.future();
    setIsFetching(true);
    ask(std::move(pass));
    return finished;
}

void PriceFetcher::ask(std::shared_ptr<Pass> pass) {
    if (pass->next == pass->providers.size()) {
        setLastError("All providers failed. " + pass->failures.join(" | "));
        setIsFetching(false);
        pass->promise.finish();
        return;
    }
    std::shared_ptr<const PriceProvider> provider = pass->providers[pass->next];
    // The watcher is a child of the fetcher: if the fetcher goes, the watcher and with it
    // the pass go too, and the pass's future ends cancelled.
    auto* watcher = new QFutureWatcher<Answer>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, pass] {
        Answer answer = watcher->result();
        watcher->deleteLater();
        answered(pass, std::move(answer));
    });
    watcher->setFuture(
        QtConcurrent::run(&workers_, [provider] { return callProvider(*provider); }));
}

void PriceFetcher::answered(std::shared_ptr<Pass> pass, Answer answer) {
    if (answer) {
        const BitcoinPrice price = *answer;
        setLatestPrice(std::move(*answer));
        setLastError(std::nullopt);
        if (cache_) {
            cache_->store(price);
        }
        setIsFetching(false);
        pass->promise.finish();
        return;
    }
    const auto& provider = *pass->providers[pass->next];
    pass->failures.append(QString::fromStdString(provider.name()) + ": " +
                          QString::fromStdString(answer.error().localizedDescription()));
    ++pass->next;
    ask(std::move(pass));
}

void PriceFetcher::startPolling(double interval) {
    if (pollTask_) {
        pollTask_->cancel();
    }
    pollTask_ = new PollingTask(this, interval);
}

void PriceFetcher::stopPolling() {
    if (pollTask_) {
        pollTask_->cancel();
    }
    pollTask_ = nullptr;
}

void PriceFetcher::setLatestPrice(std::optional<BitcoinPrice> price) {
    emit objectWillChange();
    latestPrice_ = std::move(price);
    emit latestPriceChanged(latestPrice_);
    announceChange();
}

void PriceFetcher::setIsFetching(bool fetching) {
    emit objectWillChange();
    isFetching_ = fetching;
    emit isFetchingChanged(isFetching_);
    announceChange();
}

void PriceFetcher::setLastError(std::optional<QString> error) {
    emit objectWillChange();
    lastError_ = std::move(error);
    emit lastErrorChanged(lastError_);
    announceChange();
}

void PriceFetcher::announceChange() {
    if (changePending_) {
        return;
    }
    changePending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            changePending_ = false;
            emit changed();
        },
        Qt::QueuedConnection);
}
