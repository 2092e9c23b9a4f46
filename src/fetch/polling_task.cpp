#include "polling_task.h"

#include "price/log_sink.h"
#include "price_fetcher.h"

#include <QCoreApplication>
#include <QFutureWatcher>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

namespace {

// QTimer counts in int milliseconds; a longer sleep is taken in slices of a day.
constexpr std::chrono::milliseconds longestSlice = std::chrono::hours(24);
// A sleep this long outlasts any process; capping it keeps the clock arithmetic in range.
constexpr std::chrono::nanoseconds longestSleep = std::chrono::hours(24 * 365 * 100);

std::string shortestText(double value) {
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return std::string(text, result.ptr);
}

} // namespace

std::optional<std::uint64_t> PollingTask::sleepNanoseconds(double interval) {
    const double nanoseconds = interval * 1e9;
    if (!std::isfinite(nanoseconds) || nanoseconds <= -1 || nanoseconds >= 0x1p64) {
        return std::nullopt;
    }
    // Between -1 and 0 the count truncates to zero; a negative double must never reach
    // the unsigned conversion.
    return nanoseconds <= 0 ? 0 : static_cast<std::uint64_t>(nanoseconds);
}

// The application owns the task, so that one still running when the program ends goes
// with it: it outlives its fetcher by design, and nothing else would ever delete it.
PollingTask::PollingTask(PriceFetcher* fetcher, double interval)
    : QObject(QCoreApplication::instance()), fetcher_(fetcher) {
    if (const auto nanoseconds = sleepNanoseconds(interval)) {
        sleepNs_ = *nanoseconds;
    } else {
        LogSink::write("[ticker] invalid update interval " + shortestText(interval) + ", using " +
                       shortestText(defaultInterval));
        sleepNs_ = *sleepNanoseconds(defaultInterval);
    }
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &PollingTask::wake);
    // The first pass begins when the main thread next runs the task.
    QMetaObject::invokeMethod(this, &PollingTask::step, Qt::QueuedConnection);
}

void PollingTask::cancel() {
    cancelled_ = true;
    if (!inPass_) {
        end();
    }
}

void PollingTask::step() {
    if (cancelled_) {
        end();
        return;
    }
    if (!fetcher_) {
        emit passEnded();
        sleep();
        return;
    }
    inPass_ = true;
    auto* watcher = new QFutureWatcher<void>(this);
    const auto passOver = [this, watcher] {
        if (!inPass_) {
            return;
        }
        inPass_ = false;
        watcher->deleteLater();
        emit passEnded();
        sleep();
    };
    connect(watcher, &QFutureWatcherBase::finished, this, passOver);
    // A fetcher that goes away in the middle of a pass never finishes it.
    connect(fetcher_, &QObject::destroyed, watcher, passOver);
    watcher->setFuture(fetcher_->fetchOnce());
}

void PollingTask::sleep() {
    if (cancelled_) {
        end();
        return;
    }
    const auto length = std::chrono::nanoseconds(
        static_cast<std::int64_t>(std::min<std::uint64_t>(sleepNs_, longestSleep.count())));
    wakeAt_ = std::chrono::steady_clock::now() + length;
    armTimer();
}

void PollingTask::armTimer() {
    // Rounded up, so the task never wakes before its time; a zero sleep still yields to
    // the event loop.
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(wakeAt_ - std::chrono::steady_clock::now());
    timer_.start(std::clamp(left, std::chrono::milliseconds(0), longestSlice));
}

void PollingTask::wake() {
    if (cancelled_) {
        end();
        return;
    }
    if (std::chrono::steady_clock::now() < wakeAt_) {
        armTimer(); // the next slice of a long sleep
        return;
    }
    step();
}

void PollingTask::end() {
    timer_.stop();
    deleteLater();
}
