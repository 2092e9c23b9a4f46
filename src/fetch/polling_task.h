#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <chrono>
#include <cstdint>
#include <optional>

class PriceFetcher;

// The polling loop on the main thread: a pass at once, then a sleep of the interval
// counted from the end of each pass, until cancelled. It holds the fetcher weakly: once
// the fetcher is gone it keeps sleeping interval by interval and skips every pass. It
// deletes itself when it ends; one still running when the application object goes is
// deleted with it.
class PollingTask : public QObject {
    Q_OBJECT

public:
    static constexpr double defaultInterval = 60;

    PollingTask(PriceFetcher* fetcher, double interval);

    // Seen before each pass and during the sleep: a sleeping task ends at once, a task in
    // the middle of a pass ends when the pass has ended.
    void cancel();
    bool isCancelled() const { return cancelled_; }

    // The sleep for `interval` seconds in nanoseconds, truncated toward zero; nullopt when
    // the count does not fit an unsigned 64-bit number (below -1 ns, not finite, 2^64 ns or
    // more).
    static std::optional<std::uint64_t> sleepNanoseconds(double interval);

signals:
    // After each pass the task has run or skipped, before its sleep.
    void passEnded();

private:
    void step();
    void sleep();
    void armTimer();
    void wake();
    void end();

    QPointer<PriceFetcher> fetcher_;
    std::uint64_t sleepNs_ = 0;
    bool cancelled_ = false;
    bool inPass_ = false;
    QTimer timer_;
    std::chrono::steady_clock::time_point wakeAt_;
};
