#include "fetch/price_fetcher.h"
#include "scripted_provider.h"
#include "temp_dir.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

namespace {

using namespace std::chrono_literals;

const QString rendered(int code) {
    return "The operation couldn\u2019t be completed. (Brimwell_Ticker.PriceError error " +
           QString::number(code) + ".)";
}

struct Lineup {
    std::vector<std::shared_ptr<ScriptedProvider>> scripted;
    PriceFetcher::Providers providers;

    explicit Lineup(std::initializer_list<const char*> names) {
        for (const char* name : names) {
            scripted.push_back(std::make_shared<ScriptedProvider>(name));
            providers.push_back(scripted.back());
        }
    }
    ScriptedProvider& operator[](std::size_t i) { return *scripted[i]; }
};

bool waitFor(const QFuture<void>& future) {
    return QTest::qWaitFor([&] { return future.isFinished(); }, 5000);
}

TEST(PriceFetcherTest, firstAnswerEndsThePass) {
    Lineup lineup{"a", "b", "c", "d", "e"};
    lineup[0].thenAnswer(67432.49);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    ASSERT_TRUE(fetcher.latestPrice());
    EXPECT_EQ(fetcher.latestPrice()->usd, 67432.49);
    EXPECT_EQ(fetcher.latestPrice()->source, "a");
    EXPECT_FALSE(fetcher.lastError());
    EXPECT_FALSE(fetcher.isFetching());
    for (std::size_t i = 1; i < 5; ++i) {
        EXPECT_EQ(lineup[i].calls(), 0) << i;
    }
}

TEST(PriceFetcherTest, fifthAnswersAfterFourFailures) {
    Lineup lineup{"a", "b", "c", "d", "coingecko"};
    for (std::size_t i = 0; i < 4; ++i) {
        lineup[i].thenFail(PriceError::timeout());
    }
    lineup[4].thenAnswer(65000);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    EXPECT_EQ(fetcher.latestPrice()->source, "coingecko");
    EXPECT_FALSE(fetcher.lastError());
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(lineup[i].calls(), 1) << i;
    }
}

TEST(PriceFetcherTest, totalFailureJoinsEveryEntryInOrderAndKeepsThePrice) {
    Lineup lineup{"mempool.space", "coinbase", "kraken", "blockchain.info", "coingecko"};
    lineup[0].thenAnswer(60000).thenFail(PriceError::network({7, "refused"}));
    lineup[1].thenFail(PriceError::decode("coinbase: bad"));
    lineup[2].thenFail(PriceError::unexpectedResponse("kraken HTTP 503"));
    lineup[3].thenFail(PriceError::timeout());
    lineup[4].thenFail(PriceError::unexpectedResponse("coingecko: missing"));
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    const auto earlier = fetcher.latestPrice();

    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    EXPECT_EQ(fetcher.lastError(), "All providers failed. mempool.space: " + rendered(0) +
                                       " | coinbase: " + rendered(1) + " | kraken: " + rendered(2) +
                                       " | blockchain.info: " + rendered(3) +
                                       " | coingecko: " + rendered(2));
    EXPECT_EQ(fetcher.latestPrice(), earlier);
    EXPECT_FALSE(fetcher.isFetching());
}

TEST(PriceFetcherTest, totalFailureWithNoPriceYetLeavesItAbsent) {
    Lineup lineup{"a"};
    lineup[0].thenFail(PriceError::timeout());
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    EXPECT_FALSE(fetcher.latestPrice());
    EXPECT_EQ(fetcher.lastError(), "All providers failed. a: " + rendered(3));
}

TEST(PriceFetcherTest, emptyProviderListFailsWithTheBareText) {
    PriceFetcher fetcher({}, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    EXPECT_EQ(fetcher.lastError(), QString("All providers failed. "));
    EXPECT_FALSE(fetcher.isFetching());
}

TEST(PriceFetcherTest, successClearsAnEarlierFailure) {
    Lineup lineup{"a"};
    lineup[0].thenFail(PriceError::timeout()).thenAnswer(1);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    ASSERT_TRUE(fetcher.lastError());
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    EXPECT_FALSE(fetcher.lastError());
    EXPECT_EQ(fetcher.latestPrice()->usd, 1);
}

TEST(PriceFetcherTest, everyAssignmentNotifiesEvenWithAnEqualValue) {
    Lineup lineup{"a"};
    lineup[0].thenAnswer(67000);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    QSignalSpy willChange(&fetcher, &PriceFetcher::objectWillChange);
    QSignalSpy prices(&fetcher, &PriceFetcher::latestPriceChanged);
    QSignalSpy errors(&fetcher, &PriceFetcher::lastErrorChanged);
    QSignalSpy fetching(&fetcher, &PriceFetcher::isFetchingChanged);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));

    ASSERT_EQ(prices.count(), 2);
    const auto first = prices[0][0].value<std::optional<BitcoinPrice>>();
    const auto second = prices[1][0].value<std::optional<BitcoinPrice>>();
    EXPECT_EQ(first->usd, second->usd);
    EXPECT_LT(first->timestamp, second->timestamp);
    EXPECT_EQ(errors.count(), 2); // none assigned over none, twice
    EXPECT_EQ(fetching.count(), 4);
    EXPECT_EQ(fetching[0][0].toBool(), true);
    EXPECT_EQ(fetching[1][0].toBool(), false);
    EXPECT_EQ(willChange.count(), 8);
}

TEST(PriceFetcherTest, changedComesOncePerTurnWithEveryValueInPlace) {
    Lineup lineup{"a"};
    lineup[0].thenFail(PriceError::timeout()).thenAnswer(5);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    QCoreApplication::processEvents();

    // What a view sees each time it is told to look again.
    std::vector<std::pair<std::optional<double>, bool>> seen;
    QObject::connect(&fetcher, &PriceFetcher::changed, [&] {
        const auto& price = fetcher.latestPrice();
        seen.emplace_back(price ? std::optional(price->usd) : std::nullopt,
                          fetcher.lastError().has_value());
    });
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    QCoreApplication::processEvents();
    // The turn that started the pass, then the one that published price, error and flag.
    using Seen = std::pair<std::optional<double>, bool>;
    EXPECT_EQ(seen, (std::vector<Seen>{{std::nullopt, true}, {5.0, false}}));
}

TEST(PriceFetcherTest, subscriberGetsTheCurrentValueFirst) {
    Lineup lineup{"a"};
    lineup[0].thenAnswer(5);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    QObject context;
    std::vector<std::optional<double>> direct;
    fetcher.subscribeLatestPrice(&context, [&](const std::optional<BitcoinPrice>& price) {
        direct.push_back(price ? std::optional(price->usd) : std::nullopt);
    });
    ASSERT_EQ(direct.size(), 1u);
    EXPECT_EQ(direct[0], std::nullopt);

    std::vector<std::optional<double>> queued;
    fetcher.subscribeLatestPrice(
        &context,
        [&](const std::optional<BitcoinPrice>& price) {
            queued.push_back(price ? std::optional(price->usd) : std::nullopt);
        },
        Qt::QueuedConnection);
    EXPECT_TRUE(queued.empty()) << "delivered inside the subscription";
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    QCoreApplication::processEvents();
    EXPECT_EQ(queued, (std::vector<std::optional<double>>{std::nullopt, 5.0}));
    EXPECT_EQ(direct, (std::vector<std::optional<double>>{std::nullopt, 5.0}));
}

TEST(PriceFetcherTest, overlappingPassesEachWalkTheListAndTheLastToEndWins) {
    Lineup lineup{"a", "b"};
    // Pass one waits in its first call; pass two fails there and gets its price from "b".
    lineup[0].then({100.0, true}).thenFail(PriceError::timeout());
    lineup[1].thenAnswer(200);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    const auto one = fetcher.fetchOnce();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lineup[0].calls() == 1; }, 5000));
    const auto two = fetcher.fetchOnce();
    ASSERT_TRUE(waitFor(two));
    EXPECT_FALSE(one.isFinished());
    EXPECT_FALSE(fetcher.isFetching()) << "the first pass to end clears the flag";
    EXPECT_EQ(fetcher.latestPrice()->usd, 200);

    lineup[0].release();
    ASSERT_TRUE(waitFor(one));
    EXPECT_EQ(fetcher.latestPrice()->usd, 100);
    EXPECT_FALSE(fetcher.lastError());
    EXPECT_FALSE(fetcher.isFetching());
}

TEST(PriceFetcherTest, aFailingPassThatEndsLastLeavesItsErrorButNotThePrice) {
    Lineup lineup{"a"};
    lineup[0].then({std::unexpected(PriceError::timeout()), true}).thenAnswer(300);
    PriceFetcher fetcher(lineup.providers, std::nullopt);
    const auto failing = fetcher.fetchOnce();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lineup[0].calls() == 1; }, 5000));
    ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
    lineup[0].release();
    ASSERT_TRUE(waitFor(failing));
    EXPECT_EQ(fetcher.latestPrice()->usd, 300);
    EXPECT_EQ(fetcher.lastError(), "All providers failed. a: " + rendered(3));
}

TEST(PriceFetcherTest, storesEachNewPriceAndRestoresItAtConstruction) {
    TempDir dir;
    const SettingsFile settings((dir.path() / "brimwell-ticker.conf").c_str());
    Lineup lineup{"a"};
    lineup[0].thenAnswer(67250.5).thenFail(PriceError::timeout());
    {
        PriceFetcher fetcher(lineup.providers, LastPriceCache(settings));
        EXPECT_FALSE(fetcher.latestPrice());
        ASSERT_TRUE(waitFor(fetcher.fetchOnce()));
        ASSERT_TRUE(waitFor(fetcher.fetchOnce())); // a failure stores nothing
    }
    PriceFetcher restarted(lineup.providers, LastPriceCache(settings));
    ASSERT_TRUE(restarted.latestPrice());
    EXPECT_EQ(restarted.latestPrice()->usd, 67250.5);
    EXPECT_EQ(restarted.latestPrice()->source, "a");
    EXPECT_FALSE(restarted.lastError());
    EXPECT_FALSE(restarted.isFetching());
}

TEST(PriceFetcherTest, aFetcherGoneInTheMiddleOfAPassCancelsIt) {
    Lineup lineup{"a"};
    lineup[0].then({1.0, true});
    auto fetcher = std::make_unique<PriceFetcher>(lineup.providers, std::nullopt);
    const auto pass = fetcher->fetchOnce();
    ASSERT_TRUE(QTest::qWaitFor([&] { return lineup[0].calls() == 1; }, 5000));
    lineup[0].release(); // the worker ends; its answer has nowhere to go
    fetcher.reset();
    EXPECT_TRUE(pass.isFinished());
    EXPECT_TRUE(pass.isCanceled());
}

} // namespace
