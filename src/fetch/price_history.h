#pragma once

#include "price/price_provider.h"

#include <QString>

#include <chrono>
#include <vector>

// The prices of the last days, for the popover's picture of the day and the change over
// it: one line per point, "UNIX_SECONDS USD", appended after each successful pass, at most
// one point a minute. Points older than a week go when the file is compacted, which
// replaces it whole (so no point it keeps is ever lost); a torn last line, left by a crash
// in mid-write, is ignored and cut off at the next append. The agent and status bars of
// one user share the file, taking turns under a lock on its directory. Each currency has a
// file of its own: "history" holds US dollars, "history-EUR" beside it euros.
class PriceHistory {
public:
    using Clock = std::chrono::system_clock;

    struct Point {
        Clock::time_point time;
        double usd = 0;
        bool operator==(const Point&) const = default;
    };

    static constexpr std::chrono::hours kept{24 * 7};
    // Points lie between 1970 and this (2255): the difference of any two then fits a time
    // point's duration. Others are neither read nor written.
    static constexpr std::chrono::seconds latest{9'000'000'000};
    static constexpr std::chrono::minutes spacing{1};
    // A week of points takes about 220 KB; the file is compacted past half this.
    static constexpr qint64 maxFileBytes = 1 << 20;
    // Reading starts at the file's end and goes back at most this far, through whatever
    // damage lies between the newest points and the rest.
    static constexpr qint64 maxScanBytes = 8 << 20;
    // Points later than now by more than this are not read: they come from a clock that
    // was set back, or from damage, and would pass for the newest price.
    static constexpr std::chrono::minutes clockSlip{5};

    // $XDG_STATE_HOME/brimwell-ticker/history, ~/.local/state/... by default.
    static QString defaultPath();

    explicit PriceHistory(QString path = defaultPath());

    const QString& path() const { return path_; }

    // The history of `currency`, this one holding US dollars: itself for US dollars, else
    // the file beside it named after the currency ("history-EUR").
    PriceHistory forCurrency(const Currency& currency) const;

    // Adds the price as a point at its timestamp, unless the newest point is less than a
    // minute older. Failures are silent: the history is a nicety, never in the way.
    void append(const BitcoinPrice& price, Clock::time_point now);

    // The points from `since` up to `now` (and `clockSlip` beyond), oldest first.
    std::vector<Point> read(Clock::time_point since, Clock::time_point now = Clock::now()) const;

private:
    QString path_;
};
