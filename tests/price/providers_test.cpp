// Each provider against a local HTTPS server under its real host name: its URL, its
// answers that give a price, its validation failures with their exact messages, and its
// decoding failures with their log line.

#include "local_price_services.h"
#include "log_capture.h"
#include "price/providers/blockchain_info_provider.h"
#include "price/providers/coin_gecko_provider.h"
#include "price/providers/coinbase_provider.h"
#include "price/providers/kraken_provider.h"
#include "price/providers/mempool_space_provider.h"
#include "raw_tls_server.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

namespace {

using namespace std::chrono_literals;

struct ProviderUnderTest {
    std::string label;
    std::string name;
    std::string host;
    std::string path;   // what the server serves
    std::string target; // what the provider must ask for
    std::function<std::unique_ptr<PriceProvider>(RequestOptions)> make;
};

template <typename Provider>
std::unique_ptr<PriceProvider> make(RequestOptions options) {
    return std::make_unique<Provider>(std::move(options));
}

const ProviderUnderTest mempool{"mempool",        "mempool.space",  "mempool.space",
                                "/api/v1/prices", "/api/v1/prices", make<MempoolSpaceProvider>};
const ProviderUnderTest coinbase{"coinbase",
                                 "coinbase",
                                 "api.coinbase.com",
                                 "/v2/prices/BTC-USD/spot",
                                 "/v2/prices/BTC-USD/spot",
                                 make<CoinbaseProvider>};
const ProviderUnderTest kraken{"kraken",
                               "kraken",
                               "api.kraken.com",
                               "/0/public/Ticker",
                               "/0/public/Ticker?pair=XBTUSD",
                               make<KrakenProvider>};
const ProviderUnderTest blockchain{"blockchain", "blockchain.info", "blockchain.info",
                                   "/ticker",    "/ticker",         make<BlockchainInfoProvider>};
const ProviderUnderTest coingecko{"coingecko",
                                  "coingecko",
                                  "api.coingecko.com",
                                  "/api/v3/simple/price",
                                  "/api/v3/simple/price?ids=bitcoin&vs_currencies=usd",
                                  make<CoinGeckoProvider>};

enum class Expect { price, invalid, decode };

struct AnswerCase {
    const ProviderUnderTest* provider;
    std::string label;
    std::string body;
    Expect expect;
    double usd = 0;      // for Expect::price
    std::string message; // for Expect::invalid, exact
};

AnswerCase price(const ProviderUnderTest& provider, std::string label, std::string body,
                 double usd) {
    return {&provider, std::move(label), std::move(body), Expect::price, usd, {}};
}
AnswerCase invalid(const ProviderUnderTest& provider, std::string label, std::string body,
                   std::string message) {
    return {&provider, std::move(label), std::move(body), Expect::invalid, 0, std::move(message)};
}
AnswerCase undecodable(const ProviderUnderTest& provider, std::string label, std::string body) {
    return {&provider, std::move(label), std::move(body), Expect::decode, 0, {}};
}

// Test names and failure messages show the label, not the bytes of the case.
void PrintTo(const AnswerCase& answer, std::ostream* out) {
    *out << answer.provider->label << "/" << answer.label;
}
void PrintTo(const ProviderUnderTest* provider, std::ostream* out) {
    *out << provider->label;
}

std::string describe(const PriceError& error) {
    return "error " + std::to_string(error.code()) + ": " + error.text();
}

class ProviderAnswerTest : public testing::TestWithParam<AnswerCase> {};

TEST_P(ProviderAnswerTest, answer) {
    const AnswerCase& answer = GetParam();
    const ProviderUnderTest& subject = *answer.provider;
    LocalPriceServices services;
    services.server().answer(subject.path, 200, answer.body);
    services.start();
    const auto provider = subject.make(services.options());
    ASSERT_EQ(provider->name(), subject.name);

    LogCapture log;
    const auto before = BitcoinPrice::Clock::now();
    const auto result = provider->fetchPrice();
    const auto after = BitcoinPrice::Clock::now();

    const auto requests = services.server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].host, subject.host);
    EXPECT_EQ(requests[0].target, subject.target);

    switch (answer.expect) {
    case Expect::price:
        ASSERT_TRUE(result) << describe(result.error());
        EXPECT_EQ(result->usd, answer.usd);
        EXPECT_EQ(result->source, subject.name);
        EXPECT_GE(result->timestamp, before);
        EXPECT_LE(result->timestamp, after);
        EXPECT_TRUE(log.lines().empty());
        break;
    case Expect::invalid:
        ASSERT_FALSE(result) << "price " << result->usd;
        EXPECT_EQ(result.error().errorCase(), PriceError::Case::unexpectedResponse);
        EXPECT_EQ(result.error().text(), answer.message);
        EXPECT_TRUE(log.lines().empty()) << log.lines().front();
        break;
    case Expect::decode: {
        ASSERT_FALSE(result) << "price " << result->usd;
        EXPECT_EQ(result.error().errorCase(), PriceError::Case::decode) << describe(result.error());
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        const std::string prefix = "[ticker] " + subject.name + " decode error: ";
        ASSERT_EQ(lines[0].rfind(prefix, 0), 0u) << lines[0];
        const std::string description = lines[0].substr(prefix.size());
        EXPECT_FALSE(description.empty());
        EXPECT_EQ(result.error().text(), subject.name + ": " + description);
        break;
    }
    }
}

const std::string coinbaseBody(const std::string& amount, const std::string& currency = "USD") {
    return R"({"data":{"amount":")" + amount + R"(","base":"BTC","currency":")" + currency +
           R"("}})";
}

const std::string krakenBody(const std::string& price) {
    return R"({"error":[],"result":{"XXBTZUSD":{"a":["1","1","1.0"],"c":[")" + price +
           R"(","0.01"]}}})";
}

const std::string coinbaseAmountMessage(const std::string& amount) {
    return "coinbase: amount '" + amount + "' not a positive Double";
}

const std::string krakenPriceMessage(const std::string& text) {
    return "kraken: unparseable price '" + text + "'";
}

const char* const mempoolMessage = "mempool.space: missing or non-positive USD field";
const char* const blockchainMessage = "blockchain.info: missing or non-positive USD.last";
const char* const coingeckoMessage = "coingecko: missing or non-positive bitcoin.usd";

INSTANTIATE_TEST_SUITE_P(
    MempoolSpace, ProviderAnswerTest,
    testing::Values(price(mempool, "usdAndTime",
                          R"({"time":1700000000,"USD":67432.49,"EUR":61000})", 67432.49),
                    price(mempool, "usdWithoutTime", R"({"USD":65000})", 65000),
                    price(mempool, "integralFloatTime", R"({"time":1.7e9,"USD":1})", 1),
                    invalid(mempool, "emptyObject", "{}", mempoolMessage),
                    invalid(mempool, "usdNull", R"({"USD":null,"time":1})", mempoolMessage),
                    invalid(mempool, "usdZero", R"({"USD":0})", mempoolMessage),
                    invalid(mempool, "usdNegative", R"({"USD":-67000})", mempoolMessage),
                    // A JSON number beyond a double is refused by the decoder itself.
                    undecodable(mempool, "usdOverflowsDouble", R"({"USD":1e400})"),
                    undecodable(mempool, "usdAsString", R"({"time":1700000000,"USD":"67000"})"),
                    undecodable(mempool, "usdAsBoolean", R"({"USD":true})"),
                    undecodable(mempool, "timeWithFraction", R"({"time":1.5,"USD":67000})"),
                    undecodable(mempool, "timeAsString", R"({"time":"1700000000","USD":67000})"),
                    undecodable(mempool, "topLevelArray", R"([{"USD":67000}])"),
                    undecodable(mempool, "notJson", "<html>busy</html>")),
    [](const auto& info) { return info.param.label; });

INSTANTIATE_TEST_SUITE_P(
    Coinbase, ProviderAnswerTest,
    testing::Values(
        price(coinbase, "decimalAmount", coinbaseBody("65000.12"), 65000.12),
        price(coinbase, "exponentAmount", coinbaseBody("6.5e4"), 65000),
        price(coinbase, "emptyBaseAndExtraMembers",
              R"({"warnings":[],"data":{"amount":"1","base":"","currency":"USD","x":1}})", 1),
        invalid(coinbase, "currencyEur", coinbaseBody("65000.12", "EUR"),
                "coinbase: unexpected currency EUR"),
        invalid(coinbase, "currencyLowerCase", coinbaseBody("65000.12", "usd"),
                "coinbase: unexpected currency usd"),
        invalid(coinbase, "currencyWithSpace", coinbaseBody("65000.12", "USD "),
                "coinbase: unexpected currency USD "),
        invalid(coinbase, "currencyCheckedBeforeAmount", coinbaseBody("abc", "EUR"),
                "coinbase: unexpected currency EUR"),
        invalid(coinbase, "groupedAmount", coinbaseBody("1,000.00"),
                coinbaseAmountMessage("1,000.00")),
        invalid(coinbase, "trailingSpace", coinbaseBody("65000 "), coinbaseAmountMessage("65000 ")),
        invalid(coinbase, "leadingSpace", coinbaseBody(" 65000"), coinbaseAmountMessage(" 65000")),
        invalid(coinbase, "emptyAmount", coinbaseBody(""), coinbaseAmountMessage("")),
        invalid(coinbase, "zeroAmount", coinbaseBody("0"), coinbaseAmountMessage("0")),
        invalid(coinbase, "negativeAmount", coinbaseBody("-5"), coinbaseAmountMessage("-5")),
        invalid(coinbase, "nanAmount", coinbaseBody("nan"), coinbaseAmountMessage("nan")),
        invalid(coinbase, "infiniteAmount", coinbaseBody("1e400"), coinbaseAmountMessage("1e400")),
        invalid(coinbase, "infinityWord", coinbaseBody("inf"), coinbaseAmountMessage("inf")),
        undecodable(coinbase, "amountAsNumber",
                    R"({"data":{"amount":65000.12,"base":"BTC","currency":"USD"}})"),
        undecodable(coinbase, "missingBase", R"({"data":{"amount":"1","currency":"USD"}})"),
        undecodable(coinbase, "nullCurrency",
                    R"({"data":{"amount":"1","base":"BTC","currency":null}})"),
        undecodable(coinbase, "missingData", R"({"amount":"1"})"),
        undecodable(coinbase, "nullData", R"({"data":null})"),
        undecodable(coinbase, "notJson", "")),
    [](const auto& info) { return info.param.label; });

INSTANTIATE_TEST_SUITE_P(
    Kraken, ProviderAnswerTest,
    testing::Values(
        price(kraken, "lastTrade", krakenBody("67432.10000"), 67432.1),
        price(kraken, "exponent", krakenBody("6.7e4"), 67000),
        price(kraken, "singleEntryList", R"({"error":[],"result":{"XXBTZUSD":{"c":["5"]}}})", 5),
        price(kraken, "smallestPairNameWins",
              R"({"error":[],"result":{"ZZZ":{"c":["2"]},"AAA":{"c":["1"]}}})", 1),
        price(kraken, "prefixSortsFirst",
              R"({"error":[],"result":{"XBTUSDT":{"c":["2"]},"XBTUSD":{"c":["1"]}}})", 1),
        price(kraken, "otherPairNeverLookedAt",
              R"({"error":[],"result":{"A":{"c":["3"]},"B":{"c":[]}}})", 3),
        invalid(kraken, "oneServiceError", R"({"error":["EQuery:Unknown asset pair"],"result":{}})",
                "kraken API error: EQuery:Unknown asset pair"),
        invalid(kraken, "twoServiceErrorsBeatAValidPair",
                R"({"error":["EGeneral:Too many requests","EService:Unavailable"],)"
                R"("result":{"XXBTZUSD":{"c":["67000"]}}})",
                "kraken API error: EGeneral:Too many requests, EService:Unavailable"),
        invalid(kraken, "emptyFirstServiceError", R"({"error":["","x"],"result":{}})",
                "kraken API error: , x"),
        invalid(kraken, "emptyResult", R"({"error":[],"result":{}})", "kraken: empty result map"),
        invalid(kraken, "emptyLastTrade", R"({"error":[],"result":{"XXBTZUSD":{"c":[]}}})",
                "kraken: missing last-trade tuple"),
        invalid(kraken, "zeroPrice", krakenBody("0"), krakenPriceMessage("0")),
        invalid(kraken, "negativePrice", krakenBody("-3.5"), krakenPriceMessage("-3.5")),
        invalid(kraken, "leadingBlank", krakenBody(" 67000"), krakenPriceMessage(" 67000")),
        invalid(kraken, "trailingBlank", krakenBody("67000 "), krakenPriceMessage("67000 ")),
        invalid(kraken, "thousandsComma", krakenBody("67,000.5"), krakenPriceMessage("67,000.5")),
        invalid(kraken, "decimalComma", krakenBody("67000,5"), krakenPriceMessage("67000,5")),
        invalid(kraken, "emptyPrice", krakenBody(""), krakenPriceMessage("")),
        invalid(kraken, "infinitePrice", krakenBody("1e400"), krakenPriceMessage("1e400")),
        undecodable(kraken, "errorsWithoutResult", R"({"error":["EService:Unavailable"]})"),
        undecodable(kraken, "nullError", R"({"error":null,"result":{}})"),
        undecodable(kraken, "errorNotTexts", R"({"error":[1],"result":{}})"),
        undecodable(kraken, "resultNotObject", R"({"error":[],"result":[]})"),
        undecodable(kraken, "pricesAsNumbers",
                    R"({"error":[],"result":{"XXBTZUSD":{"c":[67000,1]}}})"),
        undecodable(kraken, "pairWithoutLastTrade",
                    R"({"error":[],"result":{"XXBTZUSD":{"a":["1"]}}})"),
        undecodable(kraken, "malformedPairNotChosen",
                    R"({"error":[],"result":{"AAA":{"c":["1"]},"ZZZ":{"c":"2"}}})")),
    [](const auto& info) { return info.param.label; });

INSTANTIATE_TEST_SUITE_P(
    BlockchainInfo, ProviderAnswerTest,
    testing::Values(
        price(blockchain, "usdLast",
              R"({"EUR":{"last":61000.1},"USD":{"15m":65000.4,"last":65000.5,"symbol":"$"}})",
              65000.5),
        price(blockchain, "integralLast", R"({"USD":{"last":65000}})", 65000),
        invalid(blockchain, "emptyObject", "{}", blockchainMessage),
        invalid(blockchain, "usdNull", R"({"USD":null})", blockchainMessage),
        invalid(blockchain, "onlyLowerCaseUsd", R"({"usd":{"last":65000}})", blockchainMessage),
        invalid(blockchain, "lastZero", R"({"USD":{"last":0}})", blockchainMessage),
        invalid(blockchain, "lastNegative", R"({"USD":{"last":-1}})", blockchainMessage),
        undecodable(blockchain, "lastOverflowsDouble", R"({"USD":{"last":-1e400}})"),
        undecodable(blockchain, "usdWithoutLast", R"({"USD":{"buy":65000}})"),
        undecodable(blockchain, "lastNull", R"({"USD":{"last":null}})"),
        undecodable(blockchain, "lastAsString", R"({"USD":{"last":"65000"}})"),
        undecodable(blockchain, "usdNotObject", R"({"USD":65000})"),
        undecodable(blockchain, "topLevelArray", "[]"),
        undecodable(blockchain, "notJson", "USD 65000")),
    [](const auto& info) { return info.param.label; });

INSTANTIATE_TEST_SUITE_P(
    CoinGecko, ProviderAnswerTest,
    testing::Values(
        price(coingecko, "bitcoinUsd", R"({"bitcoin":{"usd":65000.5,"eur":60000}})", 65000.5),
        price(coingecko, "integralUsd", R"({"ethereum":{"usd":1},"bitcoin":{"usd":65000}})", 65000),
        invalid(coingecko, "emptyObject", "{}", coingeckoMessage),
        invalid(coingecko, "bitcoinNull", R"({"bitcoin":null})", coingeckoMessage),
        invalid(coingecko, "otherCoinOnly", R"({"ethereum":{"usd":3000}})", coingeckoMessage),
        invalid(coingecko, "usdZero", R"({"bitcoin":{"usd":0}})", coingeckoMessage),
        invalid(coingecko, "usdNegative", R"({"bitcoin":{"usd":-65000}})", coingeckoMessage),
        undecodable(coingecko, "usdOverflowsDouble", R"({"bitcoin":{"usd":1e999}})"),
        undecodable(coingecko, "otherCurrencyOnly", R"({"bitcoin":{"eur":60000}})"),
        undecodable(coingecko, "usdNull", R"({"bitcoin":{"usd":null}})"),
        undecodable(coingecko, "usdAsString", R"({"bitcoin":{"usd":"65000"}})"),
        undecodable(coingecko, "topLevelArray", R"([{"bitcoin":{"usd":1}}])"),
        undecodable(coingecko, "notJson", "{\"bitcoin\":")),
    [](const auto& info) { return info.param.label; });

// What every provider shares through the pipeline, each with its own name in the texts.
class ProviderFailureTest : public testing::TestWithParam<const ProviderUnderTest*> {};

TEST_P(ProviderFailureTest, statusOutsideTwoHundredsIsSilent) {
    const auto& subject = *GetParam();
    LocalPriceServices services;
    services.server().answer(subject.path, 503, "{}");
    services.start();
    LogCapture log;
    const auto result = subject.make(services.options())->fetchPrice();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().errorCase(), PriceError::Case::unexpectedResponse);
    EXPECT_EQ(result.error().text(), subject.name + " HTTP 503");
    EXPECT_TRUE(log.lines().empty());
}

TEST_P(ProviderFailureTest, refusedConnectionIsANetworkError) {
    const auto& subject = *GetParam();
    LocalPriceServices services;
    LogCapture log;
    const auto result = subject.make(services.optionsForPort(refusingPort()))->fetchPrice();
    ASSERT_FALSE(result);
    ASSERT_EQ(result.error().errorCase(), PriceError::Case::network);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], "[ticker] " + subject.name +
                            " network error: " + result.error().transferFailure()->description);
}

TEST_P(ProviderFailureTest, silentServerTimesOut) {
    const auto& subject = *GetParam();
    LocalPriceServices services;
    RawTlsServer silent(services.certificate(), [](RawTlsServer::Connection& connection) {
        if (connection.handshake()) {
            connection.readRequest();
        }
        connection.holdUntilStopped();
    });
    LogCapture log;
    const auto result =
        subject.make(services.optionsForPort(silent.port(), {.total = 5s, .idle = 200ms}))
            ->fetchPrice();
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().errorCase(), PriceError::Case::timeout);
    EXPECT_EQ(log.lines(), std::vector<std::string>{"[ticker] " + subject.name + " timeout"});
}

INSTANTIATE_TEST_SUITE_P(AllProviders, ProviderFailureTest,
                         testing::Values(&mempool, &coinbase, &kraken, &blockchain, &coingecko),
                         [](const auto& info) { return info.param->label; });

} // namespace
