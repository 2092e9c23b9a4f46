// The price sources: every provider's decoding and validation with its exact messages and
// log lines, the request road against local HTTPS servers (status, time limits, refused
// connections, oversize bodies, redirects, certificates), and the texts they read.

#include "price/log_sink.h"
#include "price/provider_pipeline.h"
#include "price/providers/blockchain_info_provider.h"
#include "price/providers/coin_gecko_provider.h"
#include "price/providers/coinbase_provider.h"
#include "price/providers/kraken_provider.h"
#include "price/providers/mempool_space_provider.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <ctime>
#include <functional>
#include <limits>
#include <map>

namespace {

using Validated = std::expected<double, PriceError>;

template <typename Provider>
Validated decodeAndValidate(const std::string& body, const Currency& currency) {
    return ProviderPipeline::price(Provider({}, currency), body);
}

const std::string names[] = {"mempool.space", "coinbase", "kraken", "blockchain.info", "coingecko"};
const std::function<Validated(const std::string&, const Currency&)> validators[] = {
    decodeAndValidate<MempoolSpaceProvider>, decodeAndValidate<CoinbaseProvider>,
    decodeAndValidate<KrakenProvider>, decodeAndValidate<BlockchainInfoProvider>,
    decodeAndValidate<CoinGeckoProvider>};
enum Provider { mempool, coinbase, kraken, blockchain, coingecko };

std::string coinbaseBody(const std::string& amount, const std::string& currency = "USD") {
    return R"({"data":{"amount":")" + amount + R"(","base":"BTC","currency":")" + currency +
           R"("}})";
}
std::string krakenBody(const std::string& price) {
    return R"({"error":[],"result":{"XXBTZUSD":{"c":[")" + price + R"(","0.01"]}}})";
}
std::string coinbaseAmount(const std::string& amount) {
    return "coinbase: amount '" + amount + "' not a positive Double";
}
std::string krakenPrice(const std::string& text) {
    return "kraken: unparseable price '" + text + "'";
}

// `expect`: the price as a number, "decode" for a decoding failure, else the exact text of
// the unexpectedResponse failure; asked in US dollars unless `currency` says otherwise.
struct Answer {
    Provider provider;
    std::string body;
    std::string expect;
    const char* currency = "USD";
};

const Answer answers[] = {
    {mempool, R"({"time":1700000000,"USD":67432.49,"EUR":61000})", "67432.49"},
    {mempool, R"({"USD":65000})", "65000"},
    {mempool, R"({"time":1.7e9,"USD":1})", "1"},
    {mempool, "{}", "mempool.space: missing or non-positive USD field"},
    {mempool, R"({"USD":null})", "mempool.space: missing or non-positive USD field"},
    {mempool, R"({"USD":0})", "mempool.space: missing or non-positive USD field"},
    {mempool, R"({"USD":-67000})", "mempool.space: missing or non-positive USD field"},
    {mempool, R"({"USD":"67000"})", "decode"},
    {mempool, R"({"time":1.5,"USD":67000})", "decode"},
    {mempool, R"({"time":"1","USD":67000})", "decode"},
    {mempool, R"({"USD":true})", "decode"},
    {mempool, R"([{"USD":67000}])", "decode"},
    {mempool, "<html>busy</html>", "decode"},
    {coinbase, coinbaseBody("65000.12"), "65000.12"},
    {coinbase, coinbaseBody("6.5e4"), "65000"},
    {coinbase, R"({"w":[],"data":{"amount":"1","base":"","currency":"USD","x":1}})", "1"},
    {coinbase, coinbaseBody("65000.12", "EUR"), "coinbase: unexpected currency EUR"},
    {coinbase, coinbaseBody("65000.12", "usd"), "coinbase: unexpected currency usd"},
    {coinbase, coinbaseBody("abc", "USD "), "coinbase: unexpected currency USD "},
    {coinbase, coinbaseBody("1,000.00"), coinbaseAmount("1,000.00")},
    {coinbase, coinbaseBody("65000 "), coinbaseAmount("65000 ")},
    {coinbase, coinbaseBody(" 65000"), coinbaseAmount(" 65000")},
    {coinbase, coinbaseBody(""), coinbaseAmount("")},
    {coinbase, coinbaseBody("0"), coinbaseAmount("0")},
    {coinbase, coinbaseBody("-5"), coinbaseAmount("-5")},
    {coinbase, coinbaseBody("nan"), coinbaseAmount("nan")},
    {coinbase, coinbaseBody("1e400"), coinbaseAmount("1e400")},
    {coinbase, R"({"data":{"amount":65000.12,"base":"BTC","currency":"USD"}})", "decode"},
    {coinbase, R"({"data":{"amount":"1","currency":"USD"}})", "decode"},
    {coinbase, R"({"data":{"amount":"1","base":"BTC","currency":null}})", "decode"},
    {coinbase, R"({"data":null})", "decode"},
    {kraken, krakenBody("67432.10000"), "67432.1"},
    {kraken, krakenBody("6.7e4"), "67000"},
    {kraken, R"({"error":[],"result":{"XXBTZUSD":{"c":["5"]}}})", "5"},
    {kraken, R"({"error":[],"result":{"XXBTZUSD":{"c":["2"]},"XBTUSD":{"c":["1"]}}})", "1"},
    {kraken, R"({"error":[],"result":{"XBTUSDT":{"c":["2"]},"XBTUSD":{"c":["1"]}}})", "1"},
    {kraken, R"({"error":[],"result":{"B":{"c":[]},"A":{"c":["3"]}}})", "3"},
    {kraken, R"({"error":["EQuery:Unknown asset pair"],"result":{}})",
     "kraken API error: EQuery:Unknown asset pair"},
    {kraken, R"({"error":["a","b"],"result":{"XBTUSD":{"c":["1"]}}})", "kraken API error: a, b"},
    {kraken, R"({"error":[],"result":{}})", "kraken: empty result map"},
    {kraken, R"({"error":[],"result":{"XXBTZUSD":{"c":[]}}})", "kraken: missing last-trade tuple"},
    {kraken, krakenBody("0"), krakenPrice("0")},
    {kraken, krakenBody("-3.5"), krakenPrice("-3.5")},
    {kraken, krakenBody(" 67000"), krakenPrice(" 67000")},
    {kraken, krakenBody("67000,5"), krakenPrice("67000,5")},
    {kraken, krakenBody(""), krakenPrice("")},
    {kraken, R"({"error":["EService:Unavailable"]})", "decode"},
    {kraken, R"({"error":[1],"result":{}})", "decode"},
    {kraken, R"({"error":[],"result":[]})", "decode"},
    {kraken, R"({"error":[],"result":{"XBTUSD":{"c":[67000]}}})", "decode"},
    {kraken, R"({"error":[],"result":{"A":{"c":["1"]},"B":{"x":1}}})", "decode"},
    {blockchain, R"({"EUR":{"last":1},"USD":{"last":65000.5,"buy":1}})", "65000.5"},
    {blockchain, R"({"USD":{"last":65000}})", "65000"},
    {blockchain, "{}", "blockchain.info: missing or non-positive USD.last"},
    {blockchain, R"({"USD":null})", "blockchain.info: missing or non-positive USD.last"},
    {blockchain, R"({"usd":{"last":65000}})", "blockchain.info: missing or non-positive USD.last"},
    {blockchain, R"({"USD":{"last":0}})", "blockchain.info: missing or non-positive USD.last"},
    {blockchain, R"({"USD":{"last":-1}})", "blockchain.info: missing or non-positive USD.last"},
    {blockchain, R"({"USD":{"buy":65000}})", "decode"},
    {blockchain, R"({"USD":{"last":"65000"}})", "decode"},
    {blockchain, R"({"USD":{"last":null}})", "decode"},
    {blockchain, "[]", "decode"},
    {coingecko, R"({"bitcoin":{"usd":65000.5,"eur":60000}})", "65000.5"},
    {coingecko, R"({"bitcoin":{"usd":65000}})", "65000"},
    {coingecko, "{}", "coingecko: missing or non-positive bitcoin.usd"},
    {coingecko, R"({"bitcoin":null})", "coingecko: missing or non-positive bitcoin.usd"},
    {coingecko, R"({"bitcoin":{"usd":0}})", "coingecko: missing or non-positive bitcoin.usd"},
    {coingecko, R"({"bitcoin":{"usd":-2}})", "coingecko: missing or non-positive bitcoin.usd"},
    {coingecko, R"({"bitcoin":{"eur":1}})", "decode"},
    {coingecko, R"({"bitcoin":{"usd":"65000"}})", "decode"},
    {coingecko, "not json", "decode"},
    // Each service in another currency, where its form differs from the US dollar's.
    {mempool, R"({"USD":"x","EUR":61000.5})", "61000.5", "EUR"},
    {mempool, R"({"USD":67000})", "mempool.space: missing or non-positive EUR field", "EUR"},
    {mempool, R"({"JPY":"1"})", "decode", "JPY"},
    {coinbase, coinbaseBody("61000.5", "EUR"), "61000.5", "EUR"},
    {coinbase, coinbaseBody("61000.5"), "coinbase: unexpected currency USD", "EUR"},
    {kraken, R"({"error":[],"result":{"A":{"c":["1"]},"XXBTZEUR":{"c":["2"]}}})", "2", "EUR"},
    {kraken, R"({"error":[],"result":{"XBTEUR":{"c":["2"]}}})", "2", "EUR"},
    {kraken, R"({"error":[],"result":{"XBTCHF":{"c":["3"]},"XXBTZCHF":{"c":["1"]}}})", "3", "CHF"},
    {kraken, R"({"error":[],"result":{"XXBTZUSD":{"c":["1"]}}})", "kraken: missing XBTJPY pair",
     "JPY"},
    {blockchain, R"({"USD":{"last":1},"GBP":{"last":52000}})", "52000", "GBP"},
    {blockchain, R"({"USD":{"last":1}})", "blockchain.info: missing or non-positive CAD.last",
     "CAD"},
    {coingecko, R"({"bitcoin":{"usd":1,"eur":61000.5}})", "61000.5", "EUR"},
    {coingecko, R"({"bitcoin":{"chf":0}})", "coingecko: missing or non-positive bitcoin.chf",
     "CHF"},
    {coingecko, R"({"bitcoin":{"usd":1,"EUR":2}})", "decode", "EUR"},
};

TEST(Providers, decodeAndValidateEveryAnswerWithItsMessageAndLogLine) {
    for (const Answer& answer : answers) {
        SCOPED_TRACE(names[answer.provider] + " in " + answer.currency + ": " + answer.body);
        const LogLines log;
        const Validated result =
            validators[answer.provider](answer.body, *Currency::fromCode(answer.currency));
        const bool price = answer.expect.find_first_not_of("0123456789.") == std::string::npos;
        if (answer.expect == "decode") {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().errorCase(), PriceError::Case::decode);
            ASSERT_EQ(log.lines().size(), 1u);
            const std::string prefix = "[ticker] " + names[answer.provider] + " decode error: ";
            ASSERT_TRUE(log.lines()[0].starts_with(prefix)) << log.lines()[0];
            EXPECT_EQ(result.error().text(),
                      names[answer.provider] + ": " + log.lines()[0].substr(prefix.size()));
        } else if (price) {
            ASSERT_TRUE(result) << result.error().text();
            EXPECT_EQ(*result, std::stod(answer.expect));
            EXPECT_TRUE(log.lines().empty());
        } else {
            ASSERT_FALSE(result);
            EXPECT_EQ(result.error().errorCase(), PriceError::Case::unexpectedResponse);
            EXPECT_EQ(result.error().text(), answer.expect);
            EXPECT_TRUE(log.lines().empty());
        }
    }
}

// Each provider asks its own host for its own path and query, and stamps the record; in
// another currency the path or query names that currency.
TEST(Providers, askTheirServiceAndBuildTheRecord) {
    const char* targets[] = {"/api/v1/prices", "/v2/prices/BTC-USD/spot",
                             "/0/public/Ticker?pair=XBTUSD", "/ticker",
                             "/api/v3/simple/price?ids=bitcoin&vs_currencies=usd"};
    const char* euroTargets[] = {"/api/v1/prices", "/v2/prices/BTC-EUR/spot",
                                 "/0/public/Ticker?pair=XBTEUR", "/ticker",
                                 "/api/v3/simple/price?ids=bitcoin&vs_currencies=eur"};
    const char* hosts[] = {"mempool.space", "api.coinbase.com", "api.kraken.com", "blockchain.info",
                           "api.coingecko.com"};
    const std::string bodies[] = {R"({"USD":1,"time":5})", coinbaseBody("2"), krakenBody("3"),
                                  R"({"USD":{"last":4}})", R"({"bitcoin":{"usd":5}})"};
    LocalServices services;
    std::vector<std::string> seen;
    for (int i = 0; i < 5; ++i) {
        services.server().Get(i == 1 ? "/v2/prices/BTC-.../spot" : servicePaths[i],
                              [&, i](const httplib::Request& request, httplib::Response& response) {
                                  seen.push_back(request.get_header_value("Host") + request.target);
                                  response.set_content(bodies[i], "application/json");
                              });
    }
    services.start();
    const Providers providers = makeDefaultProviders(services.options());
    const Providers euros = makeDefaultProviders(services.options(), *Currency::fromCode("EUR"));
    ASSERT_EQ(providers.size(), 5u);
    for (int i = 0; i < 5; ++i) {
        const auto before = BitcoinPrice::Clock::now();
        const auto price = providers[i]->fetchPrice();
        ASSERT_TRUE(price) << names[i];
        EXPECT_EQ(providers[i]->name(), names[i]);
        EXPECT_EQ(price->source, names[i]);
        EXPECT_EQ(price->usd, i + 1);
        EXPECT_GE(price->timestamp, before);
        EXPECT_LE(price->timestamp, BitcoinPrice::Clock::now());
        EXPECT_EQ(seen.back(), std::string(hosts[i]) + targets[i]);
        EXPECT_FALSE(euros[i]->fetchPrice()); // the answers are in dollars
        EXPECT_EQ(seen.back(), std::string(hosts[i]) + euroTargets[i]);
    }
}

// The road every request takes, shown on the first provider. The limits are wide where the
// road must not time out; a road that must is given one limit short and the other wide,
// and its server answers a price once the short one is long past: only that limit can
// end the request in time.
using Serve = std::function<void(LocalServices&)>; // what the road's server does
struct Road {
    std::string label;
    Serve serve;
    std::string expect; // "price", "timeout", an HTTP text, or "network: " + description
    TransferLimits limits = {30s, 30s};
};

Serve answering(int status, const std::string& body) {
    return [=](LocalServices& s) {
        s.answer(servicePaths[0], status, body);
    };
}
Serve redirecting(const std::string& location) {
    return [=](LocalServices& s) {
        s.server().Get(servicePaths[0], [location](const auto&, httplib::Response& response) {
            response.set_redirect(location);
        });
    };
}
// Nothing for ten seconds, or a byte every 0.1 s for ten seconds; then the price.
Serve priceAfterTenSeconds(bool dripping) {
    return [=](LocalServices& s) {
        s.server().Get(servicePaths[0], [&s, dripping](const auto&, auto& response) {
            if (!dripping) {
                s.hold(10s);
                return response.set_content(R"({"USD":7})", "application/json");
            }
            response.set_chunked_content_provider("application/json", [&](size_t sent, auto& sink) {
                s.hold(100ms);
                return sent < 100 ? sink.write(" ", 1)
                                  : (sink.write(R"({"USD":7})", 9), sink.done(), true);
            });
        });
    };
}

const Road roads[] = {
    {"status200", answering(200, R"({"USD":7})"), "price"},
    {"status299", answering(299, R"({"USD":7})"), "price"},
    {"status304", answering(304, R"({"USD":7})"), "mempool.space HTTP 304"},
    {"status300", answering(300, R"({"USD":7})"), "mempool.space HTTP 300"},
    {"status429", answering(429, "not json"), "mempool.space HTTP 429"},
    {"status500", answering(500, R"({"USD":7})"), "mempool.space HTTP 500"},
    {"silent", priceAfterTenSeconds(false), "timeout", {30s, 300ms}},
    {"dripping", priceAfterTenSeconds(true), "timeout", {500ms, 30s}},
    {"oversize", answering(200, std::string((1 << 20) + 1, ' ')),
     "network: response body exceeds 1 MiB"},
    {"endlessChunks",
     [](LocalServices& s) {
         s.server().Get(servicePaths[0], [](const auto&, httplib::Response& response) {
             response.set_chunked_content_provider("application/json", [](size_t, auto& sink) {
                 return sink.write(std::string(65536, ' ').data(), 65536);
             });
         });
     },
     "network: response body exceeds 1 MiB"},
    // Port 443 is the local server's too, so that a request that followed the redirect
    // would reach no other host.
    {"redirectToHttp", redirecting("http://mempool.space:443/api/v1/prices"),
     R"(network: Protocol "http" not supported or disabled in libcurl)"},
    {"redirectLoop", redirecting("/api/v1/prices"), "network: Maximum (5) redirects followed"},
};

TEST(Pipeline, endsEveryRoadWithItsErrorAndLogLine) {
    for (const Road& road : roads) {
        SCOPED_TRACE(road.label);
        LocalServices services;
        road.serve(services);
        services.start();
        const LogLines log;
        const auto price = MempoolSpaceProvider(services.options(road.limits)).fetchPrice();
        if (road.expect == "price") {
            ASSERT_TRUE(price);
            EXPECT_EQ(price->usd, 7);
            EXPECT_TRUE(log.lines().empty());
        } else if (road.expect == "timeout") {
            ASSERT_FALSE(price);
            EXPECT_EQ(price.error().errorCase(), PriceError::Case::timeout);
            EXPECT_EQ(log.lines(), std::vector<std::string>{"[ticker] mempool.space timeout"});
        } else if (road.expect.starts_with("network: ")) {
            ASSERT_FALSE(price);
            ASSERT_EQ(price.error().errorCase(), PriceError::Case::network);
            const std::string description = price.error().transferFailure()->description;
            EXPECT_EQ(description, road.expect.substr(9));
            EXPECT_EQ(log.lines(), std::vector<std::string>{
                                       "[ticker] mempool.space network error: " + description});
        } else {
            ASSERT_FALSE(price);
            EXPECT_EQ(price.error().errorCase(), PriceError::Case::unexpectedResponse);
            EXPECT_EQ(price.error().text(), road.expect);
            EXPECT_EQ(price.error().cause(), road.expect.substr(road.expect.find("HTTP")));
            EXPECT_TRUE(log.lines().empty());
        }
    }
}

TEST(Pipeline, refusesServersItCannotTrustOrReach) {
    const std::map<std::string, std::string> causes = {{"other-host", "certificate not trusted"},
                                                       {"self-signed", "certificate not trusted"},
                                                       {"unreachable", "couldn't connect"}};
    for (const auto& [certificate, cause] : causes) {
        SCOPED_TRACE(certificate);
        auto services =
            std::make_unique<LocalServices>(certificate == "unreachable" ? "server" : certificate);
        services->answer(servicePaths[0], 200, R"({"USD":7})");
        services->start();
        const RequestOptions options = services->options({30s, 30s});
        if (certificate == "unreachable") {
            services.reset(); // the port is closed: the connection is refused
        }
        const LogLines log;
        const auto price = MempoolSpaceProvider(options).fetchPrice();
        ASSERT_FALSE(price);
        EXPECT_EQ(price.error().errorCase(), PriceError::Case::network);
        EXPECT_EQ(price.error().cause(), cause);
        ASSERT_EQ(log.lines().size(), 1u);
        EXPECT_TRUE(log.lines()[0].starts_with("[ticker] mempool.space network error: "));
    }
}

// The one request that waits for the real ten seconds of the idle limit, from a server
// that never answers.
TEST(Pipeline, aSilentServerTimesOutAfterTenSeconds) {
    LocalServices services;
    services.server().Get(servicePaths[0], [&](const auto&, auto&) { services.hold(); });
    services.start();
    const auto start = std::chrono::steady_clock::now();
    const auto price = MempoolSpaceProvider(services.options()).fetchPrice();
    const auto waited = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(price);
    EXPECT_EQ(price.error().errorCase(), PriceError::Case::timeout);
    EXPECT_GE(waited, 9900ms);
    EXPECT_LT(waited, 20s);
}

TEST(PriceError, rendersTheSameSentenceWithItsCodeAndNoPayload) {
    const PriceError errors[] = {PriceError::network({7, "refused"}), PriceError::decode("x"),
                                 PriceError::unexpectedResponse("y"), PriceError::timeout()};
    for (int code = 0; code < 4; ++code) {
        EXPECT_EQ(errors[code].code(), code);
        EXPECT_EQ(errors[code].localizedDescription(),
                  "The operation couldn\u2019t be completed. (Brimwell_Ticker.PriceError error " +
                      std::to_string(code) + ".)");
    }
}

TEST(DecimalPriceText, readsAsStrtodInThePosixLocaleAndTakesUpTheWholeText) {
    // A locale with a decimal comma changes nothing; without it, this would check nothing.
    ASSERT_TRUE(std::setlocale(LC_ALL, "de_DE.UTF-8")) << "de_DE.UTF-8 is not installed";
    const std::pair<const char*, std::optional<double>> texts[] = {{"65000.12", 65000.12},
                                                                   {"6.5e4", 65000},
                                                                   {"-5", -5},
                                                                   {"+1", 1},
                                                                   {"0x1p4", 16},
                                                                   {"1e400", HUGE_VAL},
                                                                   {"inf", HUGE_VAL},
                                                                   {"", std::nullopt},
                                                                   {" 1", std::nullopt},
                                                                   {"\t1", std::nullopt},
                                                                   {"1 ", std::nullopt},
                                                                   {"1,000.00", std::nullopt},
                                                                   {"65000,5", std::nullopt},
                                                                   {"$1", std::nullopt},
                                                                   {"1abc", std::nullopt}};
    for (const auto& [text, expected] : texts) {
        EXPECT_EQ(parseDecimalPrice(text), expected) << text;
    }
    EXPECT_TRUE(std::isnan(*parseDecimalPrice("nan")));
    EXPECT_FALSE(parseDecimalPrice(std::string_view("1\0", 2)));
    std::setlocale(LC_ALL, "C");
}

TEST(StrictJson, refusesNestingBeyondSixtyFourLevelsAndReadsAnyShapeInLinearTime) {
    const auto nested = [](int depth) {
        return std::string(std::size_t(depth), '[') + std::string(std::size_t(depth), ']');
    };
    EXPECT_NO_THROW(StrictJson::parse(nested(64)));
    EXPECT_THROW(StrictJson::parse(nested(65)), std::exception);
    EXPECT_NO_THROW(StrictJson::parse(R"({"a":")" + std::string(100, '[') + R"("})"));
    // Empty containers by the hundred thousand: eight times the body takes about eight times
    // the work, where a quadratic reading would take sixty-four times as much. Counted in
    // processor time, the least of three runs: what else the machine runs adds nothing.
    const auto decodeTime = [](std::size_t bytes) {
        std::string body = R"({"time":1,"USD":67432,"x":[)";
        while (body.size() < bytes) {
            body += "{},";
        }
        body += "{}]}";
        std::clock_t least = std::numeric_limits<std::clock_t>::max();
        for (int run = 0; run < 3; ++run) {
            const std::clock_t start = std::clock();
            EXPECT_EQ(*validators[mempool](body, Currency::usd()), 67432);
            least = std::min(least, std::clock() - start);
        }
        return least;
    };
    const std::clock_t eighth = decodeTime(1 << 17);
    EXPECT_LT(decodeTime(1 << 20), 20 * eighth + CLOCKS_PER_SEC / 50);
}

TEST(LogSink, writesEveryEventAsOneLineOfPlainText) {
    const std::pair<std::string, std::string> lines[] = {
        {"a\nb\r\tc", "a\\nb\\r\\tc"},
        {"\x1b[31mred", "\\x1b[31mred"},
        {"caf\xc3\xa9 \xe2\x82\xbf", "caf\xc3\xa9 \xe2\x82\xbf"},
        {"\xff\xc0", "\\xff\\xc0"},
        {"\xc2\x9b", "\\xc2\\x9b"},
        {"100 %s %n", "100 %s %n"}};
    for (const auto& [line, written] : lines) {
        EXPECT_EQ(LogSink::oneLine(line), written);
    }
    const std::string long_ = LogSink::oneLine(std::string(9000, '\x01'));
    EXPECT_LE(long_.size(), LogSink::maxLineBytes);
    EXPECT_TRUE(long_.ends_with("\\x01\xe2\x80\xa6"));
}

} // namespace
