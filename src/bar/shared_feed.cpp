#include "shared_feed.h"

#include <QDBusConnectionInterface>

namespace {

// How long an agent that owns the name may take to give its state before the bar polls
// on its own.
constexpr int agentAnswerMs = 2000;

} // namespace

SharedFeed::SharedFeed(QDBusConnection bus, PriceFetcher& fetcher, double interval,
                       LocalFeed::Clock clock, QObject* parent)
    : TickerFeed(parent), fetcher_(fetcher), interval_(interval),
      local_(fetcher, interval, std::move(clock)) {
    connect(&local_, &TickerFeed::changed, this, [this] {
        if (!attached()) {
            emit changed();
        }
    });
    answerWait_.setSingleShot(true);
    answerWait_.setInterval(agentAnswerMs);
    connect(&answerWait_, &QTimer::timeout, this, &SharedFeed::follow);
    if (bus.isConnected()) {
        remote_ = std::make_unique<RemoteFeed>(bus);
        connect(remote_.get(), &TickerFeed::changed, this, [this] {
            if (attached()) {
                emit changed();
            }
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

void SharedFeed::follow() {
    answerWait_.stop();
    if (attached() && polling_) {
        fetcher_.stopPolling();
        polling_ = false;
    } else if (!attached() && !polling_) {
        fetcher_.startPolling(interval_);
        polling_ = true;
    }
    emit changed();
}
