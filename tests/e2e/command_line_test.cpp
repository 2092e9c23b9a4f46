// The built program driven as a user or a status bar drives it: its command line, its
// output, its exit status, its settings file, its signals, against local HTTPS servers
// that answer under the five real host names.

#include "fetch/last_price_cache.h"
#include "local_price_services.h"
#include "price/strict_json.h"
#include "program_run.h"
#include "raw_tls_server.h"
#include "temp_dir.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <signal.h>

namespace {

using namespace std::chrono_literals;

const char* const mempoolPath = "/api/v1/prices";
const char* const coinbasePath = "/v2/prices/BTC-USD/spot";

const QString rendered(int code) {
    return "The operation couldn\u2019t be completed. (Brimwell_Ticker.PriceError error " +
           QString::number(code) + ".)";
}

QStringList serviceArguments(const RequestOptions& options) {
    QStringList arguments;
    for (const auto& entry : options.connectTo) {
        arguments << "--connect-to" << QString::fromStdString(entry);
    }
    arguments << "--cacert" << QString::fromStdString(options.caFile);
    return arguments;
}

class ProgramTest : public testing::Test {
protected:
    TempDir home;
    LocalPriceServices services;

    QString configHome() const { return QString::fromStdString(home.path().string()); }
    SettingsFile settings() const {
        return SettingsFile(configHome() + "/brimwell-ticker/brimwell-ticker.conf");
    }
    void writeSettings(const QByteArray& content) const {
        QDir().mkpath(configHome() + "/brimwell-ticker");
        QFile file(settings().path());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    QStringList arguments(QStringList first) const {
        return first + serviceArguments(services.options());
    }
};

TEST_F(ProgramTest, onceShowsTheFirstProvidersPriceAndStoresIt) {
    services.server().answer(mempoolPath, 200, R"({"USD":67432.49})");
    services.start();
    ProgramRun run(arguments({"--once"}), configHome());
    EXPECT_EQ(run.readLine(), QString("\u20bf 67,432"));
    EXPECT_EQ(run.waitForExit(), 0);
    const auto stored = LastPriceCache(settings()).restore();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->usd, 67432.49);
    EXPECT_EQ(stored->source, "mempool.space");
}

TEST_F(ProgramTest, titleGroupsWithACommaInEveryLocale) {
    services.server().answer(mempoolPath, 200, R"({"USD":1234567.8})");
    services.start();
    ProgramRun run(arguments({"--once"}), configHome(), "de_DE.UTF-8");
    EXPECT_EQ(run.readLine(), QString("\u20bf 1,234,568"));
    EXPECT_EQ(run.waitForExit(), 0) << run.standardError().toStdString();
}

TEST_F(ProgramTest, onceFailsOverToTheNextProvider) {
    services.server().answer(mempoolPath, 503, "{}");
    services.server().answer(coinbasePath, 200,
                             R"({"data":{"amount":"65000.12","base":"BTC","currency":"USD"}})");
    services.start();
    ProgramRun run(arguments({"--once"}), configHome());
    EXPECT_EQ(run.readLine(), QString("\u20bf 65,000"));
    EXPECT_EQ(run.waitForExit(), 0);
    EXPECT_EQ(LastPriceCache(settings()).restore()->source, "coinbase");
}

TEST_F(ProgramTest, onceWithEveryProviderFailingExitsOneWithTheFailureText) {
    services.start(); // answers 404 to every path
    ProgramRun run(arguments({"--once"}), configHome());
    EXPECT_EQ(run.readLine(), QString("\u20bf ..."));
    EXPECT_EQ(run.waitForExit(), 1);
    const QString expected = "All providers failed. mempool.space: " + rendered(2) +
                             " | coinbase: " + rendered(2) + " | kraken: " + rendered(2) +
                             " | blockchain.info: " + rendered(2) + " | coingecko: " + rendered(2) +
                             "\n";
    EXPECT_EQ(run.standardError(), expected);
}

TEST_F(ProgramTest, failedOnceStillShowsTheStoredPrice) {
    LastPriceCache(settings())
        .store({67250.5, BitcoinPrice::Clock::now() - std::chrono::hours(1), "coinbase"});
    services.start();
    ProgramRun run(arguments({"--once"}), configHome());
    EXPECT_EQ(run.readLine(), QString("\u20bf 67,250"));
    EXPECT_EQ(run.waitForExit(), 1);
}

TEST_F(ProgramTest, storedPriceShowsBeforeAnyAnswerAndTermEndsAHangingRequest) {
    LastPriceCache(settings()).store({67250.5, BitcoinPrice::Clock::now(), "coinbase"});
    RawTlsServer silent(services.certificate(), [](RawTlsServer::Connection& connection) {
        if (connection.handshake()) {
            connection.readRequest();
        }
        connection.holdUntilStopped();
    });
    ProgramRun run(QStringList{"--bar"} + serviceArguments(services.optionsForPort(silent.port())),
                   configHome());
    EXPECT_EQ(run.readLine(2s), QString("\u20bf 67,250"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return silent.connectionCount() == 1; }, 5000));
    run.signal(SIGTERM);
    EXPECT_EQ(run.waitForExit(2s), 0) << "still waiting for the server";
}

TEST_F(ProgramTest, waybarRecordsFollowThePrice) {
    services.server().answer(mempoolPath, 200, R"({"USD":67432.49})");
    services.start();
    ProgramRun run(arguments({"--bar=waybar"}), configHome());
    const auto first = StrictJson::parse(run.readLine()->toStdString());
    EXPECT_EQ(first, StrictJson::parse(R"({"text":"₿ ...","alt":"","tooltip":"Fetching...",
                                               "class":"pending"})"));
    const auto second = StrictJson::parse(run.readLine()->toStdString());
    EXPECT_EQ(second.at("text").get<std::string>(), "₿ 67,432");
    EXPECT_EQ(second.at("alt").get<std::string>(), "mempool.space");
    EXPECT_EQ(second.at("class").get<std::string>(), "ok");
    EXPECT_EQ(second.at("tooltip").get<std::string>(),
              "₿ 67,432\n₿ → USD\nSource: mempool.space\nUpdated: less than 1 min");
}

TEST_F(ProgramTest, waybarShowsAFailureAsAnError) {
    services.start();
    ProgramRun run(arguments({"--bar=waybar"}), configHome());
    run.readLine(); // pending
    const auto failed = StrictJson::parse(run.readLine()->toStdString());
    EXPECT_EQ(failed.at("class").get<std::string>(), "error");
    EXPECT_EQ(failed.at("text").get<std::string>(), "₿ ...");
    const auto tooltip = failed.at("tooltip").get<std::string>();
    EXPECT_EQ(tooltip.rfind("Fetching...\nAll providers failed. mempool.space: ", 0), 0u);
}

TEST_F(ProgramTest, i3barSpeaksTheProtocol) {
    services.server().answer(mempoolPath, 200, R"({"USD":67432.49})");
    services.start();
    ProgramRun run(arguments({"--bar=i3bar"}), configHome());
    EXPECT_EQ(StrictJson::parse(run.readLine()->toStdString()),
              StrictJson::parse(R"({"version":1})"));
    EXPECT_EQ(run.readLine(), QString("["));
    const auto first = StrictJson::parse(run.readLine()->toStdString());
    EXPECT_EQ(first.at(0).at("full_text").get<std::string>(), "₿ ...");
    const QString second = *run.readLine();
    ASSERT_TRUE(second.startsWith(','));
    EXPECT_EQ(
        StrictJson::parse(second.mid(1).toStdString()).at(0).at("full_text").get<std::string>(),
        "₿ 67,432");
}

TEST_F(ProgramTest, sigusr1FetchesAtOnce) {
    std::atomic<int> requests = 0;
    services.server().get(mempoolPath, [&](const httplib::Request&, httplib::Response& response) {
        response.set_content(++requests == 1 ? R"({"USD":100})" : R"({"USD":200})",
                             "application/json");
    });
    services.start();
    ProgramRun run(arguments({"--bar", "--interval", "3600"}), configHome());
    EXPECT_EQ(run.readLine(), QString("\u20bf ..."));
    EXPECT_EQ(run.readLine(), QString("\u20bf 100"));
    run.signal(SIGUSR1);
    EXPECT_EQ(run.readLine(), QString("\u20bf 200"));
    run.signal(SIGINT);
    EXPECT_EQ(run.waitForExit(), 0) << run.standardError().toStdString();
}

TEST_F(ProgramTest, storedIntervalDrivesPollingUnlessOneIsGiven) {
    std::atomic<int> requests = 0;
    services.server().get(mempoolPath, [&](const httplib::Request&, httplib::Response& response) {
        response.set_content("{\"USD\":" + std::to_string(1000 + ++requests) + "}",
                             "application/json");
    });
    services.start();
    writeSettings("[General]\nBrimwellTicker.UpdateInterval=0.2\n");
    {
        ProgramRun run(arguments({"--bar"}), configHome());
        for (int line = 0; line < 4; ++line) {
            ASSERT_TRUE(run.readLine()) << line;
        }
    }
    const int polled = requests;
    EXPECT_GE(polled, 3);
    ProgramRun run(arguments({"--bar", "--interval=3600"}), configHome());
    run.readLine();
    run.readLine();
    QTest::qWait(700);
    EXPECT_EQ(requests, polled + 1);
}

TEST_F(ProgramTest, unusableStoredIntervalIsLoggedAndReplaced) {
    services.start();
    writeSettings("[General]\nBrimwellTicker.UpdateInterval=-5\n");
    ProgramRun run(arguments({"--bar"}), configHome());
    run.readLine();
    run.signal(SIGTERM);
    ASSERT_EQ(run.waitForExit(), 0);
    EXPECT_TRUE(run.standardError().contains("[ticker] invalid update interval -5, using 60\n"));
}

TEST(ProgramArgumentsTest, badArgumentsAreNamedWithTheUsageAndExitTwo) {
    TempDir home;
    const struct {
        QStringList arguments;
        QString named;
    } cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"--bar=xml"}, "xml"},
        {{"--interval", "soon"}, "soon"},
        {{"--interval"}, "--interval"},
        {{"--once", "--bar"}, "--once"},
        {{"--cacert", "/nonexistent/ca.pem"}, "/nonexistent/ca.pem"},
        {{"--connect-to", "mempool.space"}, "--connect-to"},
        {{"stray"}, "stray"},
    };
    for (const auto& [arguments, named] : cases) {
        ProgramRun run(arguments, QString::fromStdString(home.path().string()));
        EXPECT_EQ(run.waitForExit(), 2) << arguments.join(' ').toStdString();
        const QStringList lines = run.standardError().split('\n');
        EXPECT_TRUE(lines[0].startsWith("brimwell-ticker: ")) << lines[0].toStdString();
        EXPECT_TRUE(lines[0].contains(named)) << lines[0].toStdString();
        EXPECT_TRUE(lines[1].startsWith("usage: brimwell-ticker")) << lines[1].toStdString();
        EXPECT_FALSE(run.readLine(0ms)) << "nothing on stdout";
    }
}

TEST(ProgramArgumentsTest, versionAndHelpExitZero) {
    TempDir home;
    ProgramRun version({"--version"}, QString::fromStdString(home.path().string()));
    EXPECT_TRUE(version.readLine()->startsWith("brimwell-ticker "));
    EXPECT_EQ(version.waitForExit(), 0);
    ProgramRun help({"--help"}, QString::fromStdString(home.path().string()));
    EXPECT_TRUE(help.readLine()->startsWith("usage: brimwell-ticker"));
    EXPECT_EQ(help.waitForExit(), 0);
}

} // namespace
