// The request pipeline that every provider runs, checked once on real HTTPS servers:
// statuses, what is sent, redirects that are followed, the body size boundary, malformed
// bodies and the real time limits. Servers that refuse, reset, stall, drip, flood or lie
// about their certificates are the table in tests/hostile/.

#include "local_price_services.h"
#include "log_capture.h"
#include "price/https_transfer.h"
#include "price/provider_pipeline.h"
#include "price/providers/kraken_provider.h"
#include "price/providers/mempool_space_provider.h"
#include "raw_tls_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

const char* const path = "/api/v1/prices";
// libcurl measures its total limit from its own start and on a millisecond clock, so it
// may end a transfer a hair before the test's stopwatch reaches the limit.
const auto clockSlack = 20ms;
const char* const goodBody = R"({"time":1700000000,"USD":67432.49})";

struct Outcome {
    std::expected<BitcoinPrice, PriceError> result;
    std::vector<std::string> log;
    SteadyClock::duration elapsed;
};

Outcome fetch(const RequestOptions& options) {
    LogCapture log;
    const auto start = SteadyClock::now();
    auto result = MempoolSpaceProvider(options).fetchPrice();
    return {std::move(result), log.lines(), SteadyClock::now() - start};
}

void expectTimeout(const Outcome& outcome) {
    ASSERT_FALSE(outcome.result);
    EXPECT_EQ(outcome.result.error().errorCase(), PriceError::Case::timeout);
    EXPECT_EQ(outcome.log, std::vector<std::string>{"[ticker] mempool.space timeout"});
}

std::string httpAnswer(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

// --- statuses -------------------------------------------------------------------------

class StatusTest : public testing::TestWithParam<int> {};

TEST_P(StatusTest, onlyTwoHundredToTwoNinetyNineIsDecoded) {
    const int status = GetParam();
    LocalPriceServices services;
    // A body that would fail decoding shows whether a refused status was decoded anyway.
    services.server().answer(path, status, status < 300 ? goodBody : "not json");
    services.start();
    const auto outcome = fetch(services.options());
    if (status < 300) {
        ASSERT_TRUE(outcome.result);
        EXPECT_EQ(outcome.result->usd, 67432.49);
    } else {
        ASSERT_FALSE(outcome.result);
        EXPECT_EQ(outcome.result.error().errorCase(), PriceError::Case::unexpectedResponse);
        EXPECT_EQ(outcome.result.error().text(), "mempool.space HTTP " + std::to_string(status));
    }
    EXPECT_TRUE(outcome.log.empty());
}

INSTANTIATE_TEST_SUITE_P(Statuses, StatusTest, testing::Values(200, 299, 300, 304, 404, 429, 500));

// --- the request itself ---------------------------------------------------------------

TEST(PipelineTest, sendsAPlainGetAndStampsTheRecordWithTheLocalClock) {
    LocalPriceServices services;
    // The service's own "time" lies a year in the past; the record must not use it.
    services.server().answer(path, 200, R"({"time":1670000000,"USD":67432.49})");
    services.start();
    const auto before = BitcoinPrice::Clock::now();
    const auto outcome = fetch(services.options());
    ASSERT_TRUE(outcome.result);
    EXPECT_GE(outcome.result->timestamp, before);
    EXPECT_EQ(outcome.result->source, "mempool.space");

    const auto requests = services.server().requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].host, "mempool.space");
    for (const char* header : {"Accept-Encoding", "Cookie", "Authorization", "Content-Length"}) {
        EXPECT_EQ(requests[0].headers.count(header), 0u) << header;
    }
}

TEST(PipelineTest, anInvalidUrlFailsWithoutALogLine) {
    for (const char* url : {"://no-scheme", "https://exa mple.com/x", ""}) {
        LogCapture log;
        const auto body = ProviderPipeline::fetchBody("mempool.space", url, {});
        ASSERT_FALSE(body) << url;
        EXPECT_EQ(body.error().errorCase(), PriceError::Case::unexpectedResponse);
        EXPECT_EQ(body.error().text(), "invalid mempool.space URL");
        EXPECT_TRUE(log.lines().empty());
    }
}

TEST(PipelineTest, anEncodedBodyIsNeverDecompressed) {
    LocalPriceServices services;
    services.server().get(path, [](const httplib::Request&, httplib::Response& response) {
        response.set_header("Content-Encoding", "gzip");
        response.set_content(std::string("\x1f\x8b\x08\x00junk", 8), "application/json");
    });
    services.start();
    const auto outcome = fetch(services.options());
    ASSERT_FALSE(outcome.result);
    // The raw bytes reached the decoder: a decode error, not a failed decompression.
    EXPECT_EQ(outcome.result.error().errorCase(), PriceError::Case::decode);
}

// --- calls share nothing ---------------------------------------------------------------

TEST(PipelineTest, twoSuccessiveCallsShareNothing) {
    LocalPriceServices services;
    std::atomic<int> accepted = 0;
    RawTlsServer server(services.certificate(), [&](RawTlsServer::Connection& connection) {
        const int number = ++accepted;
        if (!connection.handshake() || connection.readRequest().empty()) {
            return;
        }
        if (number == 1) {
            connection.reset();
            return;
        }
        // Offers keep-alive; a call that reused this connection would send its request here.
        connection.send(httpAnswer(R"({"USD":)" + std::to_string(number) + "}"));
        while (!connection.readRequest().empty()) {
            connection.send(httpAnswer(R"({"USD":1000})"));
        }
    });
    const auto options = services.optionsForPort(server.port());
    EXPECT_FALSE(fetch(options).result);
    const auto second = fetch(options);
    const auto third = fetch(options);
    ASSERT_TRUE(second.result);
    ASSERT_TRUE(third.result);
    EXPECT_EQ(second.result->usd, 2);
    EXPECT_EQ(third.result->usd, 3);
    EXPECT_TRUE(third.log.empty());
    EXPECT_EQ(server.connectionCount(), 3);
}

// --- redirects ------------------------------------------------------------------------

TEST(PipelineTest, redirectToHttpsIsFollowed) {
    LocalPriceServices services;
    services.server().get(path, [](const httplib::Request&, httplib::Response& response) {
        response.set_redirect("https://mempool.space/moved", 301);
    });
    services.server().answer("/moved", 200, goodBody);
    services.start();
    const auto outcome = fetch(services.options());
    ASSERT_TRUE(outcome.result);
    EXPECT_EQ(services.server().requests().size(), 2u);
}

// --- bodies ---------------------------------------------------------------------------

std::string paddedBody(std::size_t size) {
    std::string body = R"({"USD":67432.49,"pad":")";
    body += std::string(size - body.size() - 2, 'x');
    return body + "\"}";
}

TEST(PipelineTest, bodyOfExactlyOneMebibyteIsRead) {
    LocalPriceServices services;
    services.server().answer(path, 200, paddedBody(HttpsTransfer::maxBodyBytes));
    services.start();
    const auto outcome = fetch(services.options());
    ASSERT_TRUE(outcome.result) << outcome.result.error().text();
    EXPECT_EQ(outcome.result->usd, 67432.49);
}

TEST(PipelineTest, announcedBodyOverOneMebibyteIsRefused) {
    LocalPriceServices services;
    services.server().answer(path, 200, paddedBody(HttpsTransfer::maxBodyBytes + 1));
    services.start();
    const auto outcome = fetch(services.options());
    ASSERT_FALSE(outcome.result);
    EXPECT_EQ(outcome.result.error().transferFailure()->description, "response body exceeds 1 MiB");
    EXPECT_EQ(outcome.log,
              std::vector<std::string>{
                  "[ticker] mempool.space network error: response body exceeds 1 MiB"});
}

TEST(PipelineTest, bodyThatIsNotJsonIsADecodeError) {
    LocalPriceServices services;
    services.server().answer(path, 200, "<html><body>502 Bad Gateway</body></html>");
    services.start();
    const auto outcome = fetch(services.options());
    ASSERT_FALSE(outcome.result);
    EXPECT_EQ(outcome.result.error().errorCase(), PriceError::Case::decode);
    ASSERT_EQ(outcome.log.size(), 1u);
    EXPECT_EQ(outcome.log[0].rfind("[ticker] mempool.space decode error: ", 0), 0u);
}

TEST(PipelineTest, nestingDeeperThanSixtyFourLevelsIsADecodeError) {
    LocalPriceServices services;
    const auto nested = [](int levels) {
        return R"({"USD":67432.49,"x":)" + std::string(static_cast<std::size_t>(levels), '[') +
               std::string(static_cast<std::size_t>(levels), ']') + "}";
    };
    services.server().answer(path, 200, nested(64)); // 65 levels with the outer object
    services.server().answer("/shallow", 200, nested(63));
    services.start();
    const auto outcome = fetch(services.options());
    ASSERT_FALSE(outcome.result);
    EXPECT_EQ(outcome.result.error().errorCase(), PriceError::Case::decode);
    EXPECT_EQ(outcome.log, std::vector<std::string>{"[ticker] mempool.space decode error: JSON "
                                                    "nested deeper than 64 levels"});
    EXPECT_EQ(outcome.result.error().text(), "mempool.space: JSON nested deeper than 64 levels");

    const auto shallow = ProviderPipeline::fetchBody(
        "mempool.space", "https://mempool.space/shallow", services.options());
    ASSERT_TRUE(shallow);
    EXPECT_TRUE(
        ProviderPipeline::decode<MempoolSpaceProvider::Response>("mempool.space", *shallow));
}

TEST(PipelineTest, percentSignInADescriptionReachesTheLogUnchanged) {
    LocalPriceServices services;
    services.server().answer("/0/public/Ticker", 200,
                             R"({"error":[],"result":{"%s%n%d":{"c":[67000]}}})");
    services.start();
    LogCapture log;
    const auto result = KrakenProvider(services.options()).fetchPrice();
    ASSERT_FALSE(result);
    const auto lines = log.lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("(/result/%s%n%d/c/0) type must be string, but is number"),
              std::string::npos)
        << lines[0];
    EXPECT_EQ(result.error().text(), "kraken: " + lines[0].substr(lines[0].find(": ") + 2));
}

// --- the real limits, once each -------------------------------------------------------

TEST(PipelineRealLimitTest, silenceEndsAfterTenSeconds) {
    LocalPriceServices services;
    RawTlsServer server(services.certificate(), [](RawTlsServer::Connection& connection) {
        if (connection.handshake()) {
            connection.readRequest();
        }
        connection.holdUntilStopped();
    });
    const auto outcome = fetch(services.optionsForPort(server.port()));
    expectTimeout(outcome);
    EXPECT_GE(outcome.elapsed, 10s - clockSlack);
    EXPECT_LT(outcome.elapsed, 12s);
}

TEST(PipelineRealLimitTest, aTransferEndsAfterTenSecondsInAll) {
    LocalPriceServices services;
    RawTlsServer server(services.certificate(), [](RawTlsServer::Connection& connection) {
        if (!connection.handshake() || connection.readRequest().empty()) {
            return;
        }
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        while (connection.send(" ") && connection.pause(500ms)) {
        }
    });
    const auto outcome = fetch(services.optionsForPort(server.port()));
    expectTimeout(outcome);
    EXPECT_GE(outcome.elapsed, 10s - clockSlack);
    EXPECT_LT(outcome.elapsed, 12s);
}

} // namespace
