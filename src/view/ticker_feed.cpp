#include "ticker_feed.h"

#include "fetch/price_fetcher.h"
#include "view/price_text.h"

#include <algorithm>

LocalFeed::LocalFeed(PriceFetcher& fetcher, double interval, QLocale locale, Clock clock,
                     std::optional<PriceHistory> history, QObject* parent)
    : TickerFeed(parent), fetcher_(fetcher), history_(std::move(history)),
      staleAge_(staleAge(interval)), locale_(std::move(locale)), clock_(std::move(clock)) {
    staleTimer_.setSingleShot(true);
    connect(&staleTimer_, &QTimer::timeout, this, &LocalFeed::update);
    connect(&fetcher_, &PriceFetcher::changed, this, &LocalFeed::update);
    if (history_) {
        connect(&fetcher_, &PriceFetcher::priceFetched, this, [this](const BitcoinPrice& price) {
            history_->append(price, clock_());
            readChange();
        });
        readChange();
    }
    update();
}

void LocalFeed::readChange() {
    const auto now = clock_();
    change_ = changeText(history_->read(now - std::chrono::hours(24), now), now, locale_);
}

std::chrono::milliseconds LocalFeed::staleAge(double interval) {
    using namespace std::chrono;
    const auto nanoseconds = PriceFetcher::sleepNanoseconds(interval);
    const double seconds = nanoseconds ? double(*nanoseconds) / 1e9 : PriceFetcher::defaultInterval;
    // Capped far beyond any life of the process, so the arithmetic stays in range.
    return milliseconds(
        std::clamp<std::int64_t>(std::int64_t(seconds * 2000), 10'000, std::int64_t(1) << 50));
}

TickerState LocalFeed::state() const {
    TickerState state{fetcher_.latestPrice(),    fetcher_.lastError(), false, change_,
                      fetcher_.failureSummary(), fetcher_.currency()};
    if (state.latestPrice) {
        state.stale = state.lastError || ageOf(state.latestPrice->timestamp, clock_()) > staleAge_;
    }
    return state;
}

void LocalFeed::refresh() {
    fetcher_.fetchOnce();
}

void LocalFeed::refreshWhenIdle() {
    fetcher_.fetchWhenIdle();
}

void LocalFeed::update() {
    staleTimer_.stop();
    const auto& price = fetcher_.latestPrice();
    if (price && !fetcher_.lastError()) {
        const auto left = staleAge_ - ageOf(price->timestamp, clock_());
        if (left.count() >= 0) {
            // One second late at most, so the price is stale by then.
            staleTimer_.start(std::min(left + std::chrono::seconds(1),
                                       std::chrono::milliseconds(std::chrono::hours(24))));
        }
    }
    emit changed();
}
