#pragma once

#include "bus/ticker_bus.h"
#include "fetch/price_fetcher.h"

#include <QDBusConnection>
#include <QTimer>

// The state for a status bar: the panel agent's, read over the session bus while an agent
// of the same currency runs, so that panel and bar ask the services once per interval
// between them; else this process's own fetcher, which polls only while no such agent
// answers. A bar started beside an agent never polls; one whose agent quits takes over at
// once, and hands back to the next. One beside an agent of another currency polls on its
// own.
class SharedFeed : public TickerFeed {
    Q_OBJECT

public:
    // `fetcher` is this process's own; it does not poll until no agent answers.
    SharedFeed(QDBusConnection bus, PriceFetcher& fetcher, double interval, QLocale locale,
               LocalFeed::Clock clock, std::optional<PriceHistory> history,
               QObject* parent = nullptr);

    TickerState state() const override;
    void refresh() override;
    void refreshWhenIdle() override;

    bool attached() const {
        return remote_ && remote_->available() && remote_->state().currency == fetcher_.currency();
    }

signals:
    // A new price: from this process's pass, or one the agent published.
    void priceFetched(const BitcoinPrice& price);
    void attachedChanged(bool attached);

private:
    void follow();

    PriceFetcher& fetcher_;
    double interval_;
    LocalFeed local_;
    std::unique_ptr<RemoteFeed> remote_;
    QTimer answerWait_;
    bool polling_ = false;
    bool wasAttached_ = false;
    std::optional<BitcoinPrice> remotePrice_;
};
