#pragma once

#include "fetch/price_history.h"
#include "price/price_provider.h"

#include <QLocale>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

class PriceFetcher;

// Everything the views show at one moment.
struct TickerState {
    std::optional<BitcoinPrice> latestPrice{};
    std::optional<QString> lastError{};
    // The last pass failed, or the price is older than two update intervals: views show
    // it muted, with the title text unchanged.
    bool stale = false;
    // How the price moved over the last day ("+2.3 % in 24 h"); empty until an hour of
    // prices has been recorded.
    QString change{};
    // The failure in one short line ("No price service answered: timed out (5)"), for the
    // menu, tooltips and status bars; empty when there is no failure or no summary of it.
    QString failureSummary{};
    // What the price is in.
    Currency currency = Currency::usd();

    bool operator==(const TickerState&) const = default;
};

// Where the views get the state from: this process's own fetcher, or the panel agent over
// the session bus.
class TickerFeed : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual TickerState state() const = 0;
    // Asks for a pass now, as the popover's Refresh does: each call starts one.
    virtual void refresh() = 0;
    // Asks for a pass for a trigger that may come in bursts (a script's Refresh over the
    // bus, SIGUSR1): only when none is running, else one after it.
    virtual void refreshWhenIdle() { refresh(); }

signals:
    // Something of the state may have changed; at most once per turn of the event loop.
    void changed();
};

// The state of this process's own fetcher. It says `changed` when the fetcher changes and
// when the price turns stale with time alone (one timer, armed only while the price is
// fresh). With a history, it adds every fetched price to it and takes the day's change
// from it.
class LocalFeed : public TickerFeed {
    Q_OBJECT

public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    LocalFeed(PriceFetcher& fetcher, double interval, QLocale locale, Clock clock,
              std::optional<PriceHistory> history = std::nullopt, QObject* parent = nullptr);

    TickerState state() const override;
    void refresh() override;
    void refreshWhenIdle() override;

    // How old a price may be before it is stale: two update intervals, at least 10 s (an
    // interval of 0 runs passes back to back). An unusable interval counts as 60 s.
    static std::chrono::milliseconds staleAge(double interval);

private:
    void update();
    void readChange();

    PriceFetcher& fetcher_;
    std::optional<PriceHistory> history_;
    std::chrono::milliseconds staleAge_;
    QLocale locale_;
    Clock clock_;
    QString change_;
    QTimer staleTimer_;
};
