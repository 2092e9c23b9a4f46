#include "price_fetcher.h"

#include "price/log_sink.h"

#include <QFutureWatcher>
#include <QPromise>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace {

using Answer = std::expected<BitcoinPrice, PriceError>;

// QTimer counts in int milliseconds; a longer sleep is taken in slices of a day.
constexpr std::chrono::milliseconds longestSlice = std::chrono::hours(24);
// A sleep this long outlasts any process; capping it keeps the clock arithmetic in range.
constexpr std::chrono::nanoseconds longestSleep = std::chrono::hours(24 * 365 * 100);

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

std::string shortestText(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

struct PriceFetcher::Pass {
    QPromise<void> promise;
    Providers providers;
    std::size_t next = 0;
    QStringList failures;
    QStringList causes;
    // The polling loop that started the pass; 0 for a pass asked for otherwise.
    std::uint64_t pollGeneration = 0;
};

PriceFetcher::PriceFetcher(Providers providers, std::optional<LastPriceCache> cache,
                           Currency currency, QObject* parent)
    : QObject(parent), providers_(std::move(providers)), cache_(std::move(cache)),
      currency_(currency) {
    workers_.setMaxThreadCount(4);
    // Workers stay once started. With the default expiry, a pass a minute would start a
    // thread each time and wake the process half a minute later to end it; a parked
    // worker costs nothing while it waits (its stack would stay cached anyway).
    workers_.setExpiryTimeout(-1);
    pollTimer_.setSingleShot(true);
    pollTimer_.setTimerType(Qt::PreciseTimer);
    connect(&pollTimer_, &QTimer::timeout, this, [this] {
        if (std::chrono::steady_clock::now() < wakeAt_) {
            armPollTimer(); // the next slice of a long sleep
        } else {
            poll(pollGeneration_);
        }
    });
    if (cache_) {
        if (auto restored = cache_->restore()) {
            setLatestPrice(std::move(restored));
        }
    }
}

QFuture<void> PriceFetcher::fetchOnce() {
    return startPass(0);
}

void PriceFetcher::fetchWhenIdle() {
    if (running_ > 0) {
        passRequested_ = true;
    } else {
        startPass(0);
    }
}

QFuture<void> PriceFetcher::startPass(std::uint64_t pollGeneration) {
    auto pass = std::make_shared<Pass>();
    pass->providers = providers_;
    pass->pollGeneration = pollGeneration;
    pass->promise.start();
    QFuture<void> finished = pass->promise.future();
    ++running_;
    setIsFetching(true);
    ask(std::move(pass));
    return finished;
}

void PriceFetcher::finish(Pass& pass) {
    --running_;
    setIsFetching(false);
    pass.promise.finish();
    if (polling_ && pass.pollGeneration == pollGeneration_) {
        sleepUntilNextPass();
    }
    if (running_ == 0 && passRequested_) {
        passRequested_ = false;
        startPass(0);
    }
}

void PriceFetcher::ask(std::shared_ptr<Pass> pass) {
    if (pass->next == pass->providers.size()) {
        setLastError("All providers failed. " + pass->failures.join(" | "),
                     summarizeFailures(pass->causes));
        finish(*pass);
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
    if (!answer) {
        const auto& provider = *pass->providers[pass->next];
        pass->failures.append(QString::fromStdString(provider.name()) + ": " +
                              QString::fromStdString(answer.error().localizedDescription()));
        pass->causes.append(QString::fromStdString(answer.error().cause()));
        ++pass->next;
        ask(std::move(pass));
        return;
    }
    const BitcoinPrice price = *answer;
    const std::optional<BitcoinPrice> previous = latestPrice_;
    setLatestPrice(std::move(*answer));
    setLastError(std::nullopt);
    if (cache_) {
        cache_->store(price);
    }
    emit priceFetched(price, previous);
    finish(*pass);
}

void PriceFetcher::catchUp(const std::optional<BitcoinPrice>& known) {
    std::optional<BitcoinPrice> newest = latestPrice_;
    for (const auto& candidate : {known, cache_ ? cache_->restore() : std::nullopt}) {
        if (candidate && isUsablePrice(candidate->usd) &&
            (!newest || candidate->timestamp > newest->timestamp)) {
            newest = candidate;
        }
    }
    if (newest != latestPrice_) {
        setLatestPrice(std::move(newest));
    }
}

std::optional<std::uint64_t> PriceFetcher::sleepNanoseconds(double interval) {
    const double nanoseconds = interval * 1e9;
    if (!std::isfinite(nanoseconds) || nanoseconds <= -1 || nanoseconds >= 0x1p64) {
        return std::nullopt;
    }
    // Between -1 and 0 the count truncates to zero; a negative double must never reach
    // the unsigned conversion.
    return nanoseconds <= 0 ? 0 : static_cast<std::uint64_t>(nanoseconds);
}

void PriceFetcher::startPolling(double interval) {
    if (const auto nanoseconds = sleepNanoseconds(interval)) {
        sleepNs_ = *nanoseconds;
    } else {
        LogSink::write("[ticker] invalid update interval " + shortestText(interval) + ", using " +
                       shortestText(defaultInterval));
        sleepNs_ = *sleepNanoseconds(defaultInterval);
    }
    stopPolling();
    polling_ = true;
    // The first pass begins when the main thread next runs the loop.
    const std::uint64_t generation = pollGeneration_;
    QMetaObject::invokeMethod(
        this, [this, generation] { poll(generation); }, Qt::QueuedConnection);
}

void PriceFetcher::stopPolling() {
    ++pollGeneration_;
    polling_ = false;
    pollTimer_.stop();
}

void PriceFetcher::poll(std::uint64_t generation) {
    if (!polling_ || generation != pollGeneration_) {
        return;
    }
    startPass(generation);
}

void PriceFetcher::sleepUntilNextPass() {
    const auto length = std::chrono::nanoseconds(
        static_cast<std::int64_t>(std::min<std::uint64_t>(sleepNs_, longestSleep.count())));
    wakeAt_ = std::chrono::steady_clock::now() + length;
    armPollTimer();
}

void PriceFetcher::armPollTimer() {
    // Rounded up, so the loop never wakes before its time; a zero sleep still yields to
    // the event loop.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(wakeAt_ - std::chrono::steady_clock::now());
    pollTimer_.start(std::clamp(left, std::chrono::milliseconds(0), longestSlice));
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

QString PriceFetcher::summarizeFailures(const QStringList& causes) {
    QStringList seen;
    QList<int> counts;
    for (const QString& cause : causes) {
        const qsizetype at = seen.indexOf(cause);
        if (at < 0) {
            seen.append(cause);
            counts.append(1);
        } else {
            ++counts[at];
        }
    }
    QStringList parts;
    for (qsizetype i = 0; i < seen.size(); ++i) {
        parts.append(QStringLiteral("%1 (%2)").arg(seen[i]).arg(counts[i]));
    }
    const QString lead = QStringLiteral("No price service answered");
    return parts.isEmpty() ? lead : lead + QStringLiteral(": ") + parts.join(QStringLiteral(", "));
}

void PriceFetcher::setLastError(std::optional<QString> error, QString summary) {
    emit objectWillChange();
    lastError_ = std::move(error);
    failureSummary_ = lastError_ ? std::move(summary) : QString();
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
