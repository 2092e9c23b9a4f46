// The polling task against the application object. Each case makes and ends its own
// application, as the program does, so these run without the shared one of the other
// fetcher tests.

#include "fetch/polling_task.h"
#include "fetch/price_fetcher.h"
#include "scripted_provider.h"

#include <QCoreApplication>
#include <QPointer>
#include <QSignalSpy>
#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(PollingTaskLifetimeTest, aTaskThatOutlivesItsFetcherEndsWithTheApplication) {
    int argc = 1;
    char name[] = "polling_lifetime_tests";
    char* argv[] = {name, nullptr};
    auto provider = std::make_shared<ScriptedProvider>("a");
    provider->then({1.0});
    QPointer<PollingTask> task;
    {
        QCoreApplication app(argc, argv);
        {
            PriceFetcher fetcher({provider}, std::nullopt);
            fetcher.startPolling(3600);
            task = fetcher.pollTask();
            QSignalSpy passes(task.data(), &PollingTask::passEnded);
            ASSERT_TRUE(passes.wait(5000));
        }
        ASSERT_FALSE(task.isNull()) << "the task sleeps on after its fetcher has gone";
    }
    EXPECT_TRUE(task.isNull()) << "the task outlived the application";
    EXPECT_EQ(provider->calls(), 1);
}

} // namespace
