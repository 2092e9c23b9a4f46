#include "shared_feed.h"

#include <QDBusConnectionInterface>

namespace {

// How long an agent that owns the name may take to give its state before the bar polls
// on its own.
constexpr int agentAnswerMs = 2000;

} // namespace

SharedFeed::SharedFeed(QDBusConnection bus, PriceFetcher& fetcher, double interval, QLocale locale,
                       LocalFeed::Clock clock, std::optional<PriceHistory> history, QObject* parent)
    : TickerFeed(parent), fetcher_(fetcher), interval_(interval),
      local_(fetcher, interval, std::move(locale), std::move(clock), std::move(history)) {
    connect(&local_, &TickerFeed::changed, this, [this] {
        if (!attached()) {
            emit changed();
        }
    });
    connect(&fetcher_, &PriceFetcher::priceFetched, this, &SharedFeed::priceFetched);
    answerWait_.setSingleShot(true);
    answerWait_.setInterval(agentAnswerMs);
    connect(&answerWait_, &QTimer::timeout, this, &SharedFeed::follow);
    if (bus.isConnected()) {
        remote_ = std::make_unique<RemoteFeed>(bus);
        connect(remote_.get(), &TickerFeed::changed, this, [this] {
            if (!attached()) {
                if (answerWait_.isActive()) {
                    follow(); // the owner answered with nothing usable: no need to wait
                }
                return;
            }
            const auto price = remote_->state().latestPrice;
            if (price && price != remotePrice_) {
                remotePrice_ = price;
                emit priceFetched(*price);
            }
            emit changed();
        });
        connect(remote_.get(), &RemoteFeed::availableChanged, this, &SharedFeed::follow);
        if (bus.interface()->isServiceRegistered(TickerBus::serviceName)) {
            answerWait_.start(); // its first answer decides
            return;
        }
    }
    follow();
}

TickerState SharedFeed::state() const {
    return attached() ? remote_->state() : local_.state();
}

void SharedFeed::refresh() {
    if (attached()) {
        remote_->refresh();
    } else {
        local_.refresh();
    }
}

void SharedFeed::refreshWhenIdle() {
    if (attached()) {
        remote_->refresh(); // the agent brakes it
    } else {
        local_.refreshWhenIdle();
    }
}

void SharedFeed::follow() {
    answerWait_.stop();
    const bool attachedNow = attached();
    if (attachedNow && polling_) {
        fetcher_.stopPolling();
        polling_ = false;
    } else if (!attachedNow && !polling_) {
        // From the newest price known, the agent's last or the stored one, never an older
        // one this process had before the agent came.
        fetcher_.catchUp(remotePrice_);
        remotePrice_.reset();
        fetcher_.startPolling(interval_);
        polling_ = true;
    }
    if (attachedNow != wasAttached_) {
        wasAttached_ = attachedNow;
        emit attachedChanged(attachedNow);
    }
    emit changed();
}
