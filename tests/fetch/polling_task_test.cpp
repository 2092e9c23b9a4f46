#include "fetch/polling_task.h"
#include "fetch/price_fetcher.h"
#include "log_capture.h"
#include "scripted_provider.h"

#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using namespace std::chrono_literals;
using Clock = ScriptedProvider::Clock;

struct Polled {
    std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>("a");
    std::unique_ptr<PriceFetcher> fetcher;

    explicit Polled(ScriptedProvider::Step first = {1.0}) {
        provider->then(std::move(first));
        fetcher = std::make_unique<PriceFetcher>(PriceFetcher::Providers{provider}, std::nullopt);
    }
    bool waitForCalls(int count, int timeoutMs = 5000) {
        return QTest::qWaitFor([&] { return provider->calls() >= count; }, timeoutMs);
    }
};

TEST(PollingSleepTest, intervalBecomesWholeNanoseconds) {
    const struct {
        double interval;
        std::optional<std::uint64_t> nanoseconds;
    } cases[] = {
        {60, 60'000'000'000},
        {0.5, 500'000'000},
        {0.25, 250'000'000},
        {59.9999999999, 59'999'999'999},
        {0, 0},
        {-0.5e-9, 0},
        // The product is a double: 18446744073 s is 18446744072999999488 ns.
        {18'446'744'073.0, 18'446'744'072'999'999'488u},
        {-1e-9, std::nullopt},
        {-5, std::nullopt},
        {18'446'744'073.709'552, std::nullopt}, // 2^64 ns
        {1e300, std::nullopt},
        {std::numeric_limits<double>::infinity(), std::nullopt},
        {-std::numeric_limits<double>::infinity(), std::nullopt},
        {std::numeric_limits<double>::quiet_NaN(), std::nullopt},
    };
    for (const auto& [interval, nanoseconds] : cases) {
        EXPECT_EQ(PollingTask::sleepNanoseconds(interval), nanoseconds) << interval;
    }
}

TEST(PollingTest, firstPassRunsAtOnceAndTheNextWaitsForTheInterval) {
    Polled polled;
    polled.fetcher->startPolling(60);
    EXPECT_EQ(polled.provider->calls(), 0) << "the pass starts on a later turn, not inside";
    ASSERT_TRUE(polled.waitForCalls(1, 1000));
    QTest::qWait(300);
    EXPECT_EQ(polled.provider->calls(), 1);
    polled.fetcher->stopPolling();
}

TEST(PollingTest, intervalIsCountedFromTheEndOfAPass) {
    Polled polled({1.0, false, 150ms});
    polled.fetcher->startPolling(0.2);
    ASSERT_TRUE(polled.waitForCalls(3));
    polled.fetcher->stopPolling();
    const auto calls = polled.provider->callLog();
    for (std::size_t i = 1; i < 3; ++i) {
        const auto gap = calls[i].start - calls[i - 1].end;
        EXPECT_GE(gap, 200ms) << "pass " << i;
        EXPECT_LT(gap, 1500ms) << "pass " << i;
    }
}

TEST(PollingTest, zeroIntervalRunsPassesBackToBackWhileTheLoopServesOtherWork) {
    Polled polled;
    int ticks = 0;
    QTimer other;
    QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
    other.start(1);
    polled.fetcher->startPolling(0);
    ASSERT_TRUE(polled.waitForCalls(50));
    polled.fetcher->stopPolling();
    EXPECT_GT(ticks, 0);
}

TEST(PollingTest, stopWhileSleepingEndsTheTaskWithoutAnotherPass) {
    Polled polled;
    polled.fetcher->startPolling(0.3);
    QPointer<PollingTask> task = polled.fetcher->pollTask();
    QSignalSpy passes(task.data(), &PollingTask::passEnded);
    ASSERT_TRUE(passes.wait(5000));
    polled.fetcher->stopPolling();
    EXPECT_EQ(polled.fetcher->pollTask(), nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return task.isNull(); }, 1000)) << "task still alive";
    QTest::qWait(500);
    EXPECT_EQ(polled.provider->calls(), 1);
}

TEST(PollingTest, stopDuringAPassLetsItPublishThenEnds) {
    Polled polled({67000.0, true});
    polled.fetcher->startPolling(0);
    QPointer<PollingTask> task = polled.fetcher->pollTask();
    ASSERT_TRUE(polled.waitForCalls(1));
    polled.fetcher->stopPolling();
    polled.provider->release();
    ASSERT_TRUE(QTest::qWaitFor([&] { return task.isNull(); }, 5000));
    ASSERT_TRUE(polled.fetcher->latestPrice());
    EXPECT_EQ(polled.fetcher->latestPrice()->usd, 67000);
    QTest::qWait(100);
    EXPECT_EQ(polled.provider->calls(), 1);
}

TEST(PollingTest, secondStartReplacesTheFirstWithItsOwnImmediatePass) {
    Polled polled;
    polled.fetcher->startPolling(60);
    ASSERT_TRUE(polled.waitForCalls(1));
    QPointer<PollingTask> first = polled.fetcher->pollTask();
    QTest::qWait(50);
    polled.fetcher->startPolling(60);
    EXPECT_TRUE(first->isCancelled());
    ASSERT_TRUE(polled.waitForCalls(2, 1000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return first.isNull(); }, 1000));
    EXPECT_NE(polled.fetcher->pollTask(), nullptr);
    polled.fetcher->stopPolling();
}

TEST(PollingTest, stopThenStartResumesWithAnImmediatePass) {
    Polled polled;
    polled.fetcher->startPolling(60);
    ASSERT_TRUE(polled.waitForCalls(1));
    polled.fetcher->stopPolling();
    polled.fetcher->startPolling(60);
    ASSERT_TRUE(polled.waitForCalls(2, 1000));
    polled.fetcher->stopPolling();
}

TEST(PollingTest, aReleasedFetcherIsSkippedWhileTheTaskSleepsOn) {
    Polled polled;
    polled.fetcher->startPolling(0.05);
    QPointer<PollingTask> task = polled.fetcher->pollTask();
    QSignalSpy passes(task.data(), &PollingTask::passEnded);
    ASSERT_TRUE(passes.wait(5000));
    polled.fetcher.reset();
    const int calls = polled.provider->calls();
    const int ended = passes.count();
    ASSERT_TRUE(QTest::qWaitFor([&] { return passes.count() >= ended + 3; }, 5000));
    EXPECT_EQ(polled.provider->calls(), calls);
    ASSERT_FALSE(task.isNull());
    task->cancel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return task.isNull(); }, 1000));
}

TEST(PollingTest, anUnusableIntervalFallsBackToSixtySecondsWithOneLogLine) {
    const struct {
        double interval;
        const char* line;
    } cases[] = {
        {-5, "[ticker] invalid update interval -5, using 60"},
        {std::numeric_limits<double>::infinity(), "[ticker] invalid update interval inf, using 60"},
        {1e20, "[ticker] invalid update interval 1e+20, using 60"},
    };
    for (const auto& [interval, line] : cases) {
        Polled polled;
        LogCapture log;
        polled.fetcher->startPolling(interval);
        ASSERT_TRUE(polled.waitForCalls(1));
        QTest::qWait(200);
        EXPECT_EQ(polled.provider->calls(), 1) << "sleeping for 60 s, not " << interval;
        EXPECT_EQ(log.lines(), std::vector<std::string>{line});
        polled.fetcher->stopPolling();
    }
}

} // namespace
