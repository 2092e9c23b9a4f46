// Every way a server can turn on the client, in one table: each row is a server behaviour
// and what a real provider's fetchPrice() must make of it, checked on the whole road of a
// request (libcurl, TLS, the status check, decoding) against local servers that answer
// under the real host names. For each row: the error case, the log line, how long it took
// against short injected limits, and how far the process's resident memory peaked.

#include "local_price_services.h"
#include "log_capture.h"
#include "price/https_transfer.h"
#include "price/providers/blockchain_info_provider.h"
#include "price/providers/coin_gecko_provider.h"
#include "price/providers/coinbase_provider.h"
#include "price/providers/kraken_provider.h"
#include "price/providers/mempool_space_provider.h"
#include "process_snapshot.h"
#include "raw_tls_server.h"
#include "sanitizer_build.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

// Short limits, so that the rows that run into one stay quick.
constexpr TransferLimits limits{.total = 2000ms, .idle = 500ms};
// How late past a limit a transfer may end: generous, as the machine may be busy.
constexpr auto lateness = 1000ms;
// libcurl counts its total limit from its own start on a millisecond clock, so it may end
// a hair before the test's stopwatch reaches the limit.
constexpr auto clockSlack = 20ms;
// The peak of the resident memory of the whole process (client and servers) while a row
// runs. A client may hold up to 1 MiB of body (in a string that may have doubled once) and
// a little more for TLS; one that read a 5 MiB body would not stay under it.
constexpr long peakGrowthLimitKiB = 4 * 1024;

constexpr std::size_t mebibyte = std::size_t{1} << 20;

struct ProviderUnderTest {
    std::string name;
    std::function<std::unique_ptr<PriceProvider>(RequestOptions)> make;
};

template <typename Provider>
ProviderUnderTest provider(std::string name) {
    return {std::move(name), [](RequestOptions options) {
                return std::make_unique<Provider>(std::move(options));
            }};
}

const ProviderUnderTest mempool = provider<MempoolSpaceProvider>("mempool.space");
const ProviderUnderTest coinbase = provider<CoinbaseProvider>("coinbase");
const ProviderUnderTest kraken = provider<KrakenProvider>("kraken");
const ProviderUnderTest blockchain = provider<BlockchainInfoProvider>("blockchain.info");
const ProviderUnderTest coingecko = provider<CoinGeckoProvider>("coingecko");

// The servers of one row, alive while the provider asks them.
struct Scene {
    int port = 0;
    std::string caFile{}; // empty: the test CA
    std::unique_ptr<TestCa> otherAuthority{};
    std::unique_ptr<RawTlsServer> raw{};
    std::unique_ptr<TlsTestServer> https{};
};

using Setup = std::function<Scene(LocalPriceServices&)>;

Scene rawServer(LocalPriceServices& services, RawTlsServer::Script script) {
    Scene scene;
    scene.raw = std::make_unique<RawTlsServer>(services.certificate(), std::move(script));
    scene.port = scene.raw->port();
    return scene;
}

// A raw server that completes the handshake, reads the request and then runs `answer`.
Setup afterRequest(std::function<void(RawTlsServer::Connection&)> answer) {
    return [answer](LocalPriceServices& services) {
        return rawServer(services, [answer](RawTlsServer::Connection& connection) {
            if (connection.handshake() && !connection.readRequest().empty()) {
                answer(connection);
            }
        });
    };
}

// An HTTPS server (cpp-httplib) with `certificate` answering every path with `handler`.
Setup httpsServer(std::function<TestCa::Certificate(LocalPriceServices&)> certificate,
                  TlsTestServer::Handler handler) {
    return [certificate, handler](LocalPriceServices& services) {
        Scene scene;
        scene.https = std::make_unique<TlsTestServer>(certificate(services));
        scene.https->get("/.*", handler);
        scene.https->start();
        scene.port = scene.https->port();
        return scene;
    };
}

TestCa::Certificate realNames(LocalPriceServices& services) {
    return services.certificate();
}

std::string repeated(std::size_t bytes, char c) {
    return std::string(bytes, c);
}

// Sends `total` bytes of `fill` in pieces, so that the server never holds them at once.
void sendMany(RawTlsServer::Connection& connection, std::size_t total, char fill) {
    const std::string piece(64 * 1024, fill);
    for (std::size_t sent = 0; sent < total; sent += piece.size()) {
        if (!connection.send(
                std::string_view(piece).substr(0, std::min(piece.size(), total - sent)))) {
            return;
        }
    }
}

std::string chunk(std::string_view data) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", data.size());
    return size + std::string(data) + "\r\n";
}

// How a row must end.
enum class Ending {
    fast,       // by the failure itself, before any limit
    idleLimit,  // by the limit on silence
    totalLimit, // by the limit on the whole transfer
};

struct HostileCase {
    std::string label;
    const ProviderUnderTest* provider;
    Setup setup;
    PriceError::Case error;
    Ending ending = Ending::fast;
    // For network errors: libcurl's code and a piece of the description.
    int curlCode = 0;
    std::string descriptionHas{};
    // Requests the HTTPS server must have received; -1 when not counted.
    int requestsSeen = -1;
};

void PrintTo(const HostileCase& row, std::ostream* out) {
    *out << row.label;
}

bool isUtf8(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80           ? 1
                                   : (lead >> 5) == 0x6  ? 2
                                   : (lead >> 4) == 0xe  ? 3
                                   : (lead >> 3) == 0x1e ? 4
                                                         : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 0x2) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

const std::vector<HostileCase> rows = {
    {.label = "refused",
     .provider = &mempool,
     .setup = [](LocalPriceServices&) { return Scene{.port = refusingPort()}; },
     .error = PriceError::Case::network,
     .curlCode = CURLE_COULDNT_CONNECT,
     .descriptionHas = "Failed to connect"},
    {.label = "resetBeforeAnyAnswer",
     .provider = &coinbase,
     .setup = afterRequest([](RawTlsServer::Connection& connection) { connection.reset(); }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_RECV_ERROR,
     .descriptionHas = "reset"},
    {.label = "resetAfterTheHeaders",
     .provider = &kraken,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
         connection.pause(50ms);
         connection.reset();
     }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_RECV_ERROR,
     .descriptionHas = "reset"},
    {.label = "resetDuringTheBody",
     .provider = &blockchain,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send(R"(HTTP/1.1 200 OK)"
                         "\r\nContent-Length: 100\r\n\r\n"
                         R"({"USD":{"last":674)");
         connection.pause(50ms);
         connection.reset();
     }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_RECV_ERROR,
     .descriptionHas = "reset"},
    {.label = "handshakeNeverCompleted",
     .provider = &coingecko,
     .setup =
         [](LocalPriceServices& services) {
             return rawServer(services, [](RawTlsServer::Connection& connection) {
                 connection.holdUntilStopped();
             });
         },
     .error = PriceError::Case::timeout,
     .ending = Ending::idleLimit},
    {.label = "silenceAfterTheRequest",
     .provider = &kraken,
     .setup =
         afterRequest([](RawTlsServer::Connection& connection) { connection.holdUntilStopped(); }),
     .error = PriceError::Case::timeout,
     .ending = Ending::idleLimit},
    {.label = "headersThenSilence",
     .provider = &mempool,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n");
         connection.holdUntilStopped();
     }),
     .error = PriceError::Case::timeout,
     .ending = Ending::idleLimit},
    {.label = "dripPastTheTotalLimit",
     .provider = &coinbase,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
         // A byte well within the idle limit, for ever: only the total limit ends it.
         while (connection.send(" ") && connection.pause(50ms)) {
         }
     }),
     .error = PriceError::Case::timeout,
     .ending = Ending::totalLimit},
    {.label = "informationalThenSilence",
     .provider = &kraken,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 100 Continue\r\n\r\n");
         connection.holdUntilStopped();
     }),
     .error = PriceError::Case::timeout,
     .ending = Ending::idleLimit},
    {.label = "announcedFiveMebibyteBody",
     .provider = &blockchain,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(5 * mebibyte) +
                         "\r\n\r\n");
         sendMany(connection, 5 * mebibyte, ' ');
     }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_FILESIZE_EXCEEDED,
     .descriptionHas = "response body exceeds 1 MiB"},
    {.label = "unannouncedFiveMebibyteBody",
     .provider = &coingecko,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
         sendMany(connection, 5 * mebibyte, ' ');
     }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_WRITE_ERROR,
     .descriptionHas = "response body exceeds 1 MiB"},
    {.label = "endlessChunkedBody",
     .provider = &mempool,
     .setup = httpsServer(realNames,
                          [](const httplib::Request&, httplib::Response& response) {
                              response.set_chunked_content_provider(
                                  "application/json", [](std::size_t, httplib::DataSink& sink) {
                                      static const std::string piece(64 * 1024, ' ');
                                      return sink.write(piece.data(), piece.size());
                                  });
                          }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_WRITE_ERROR,
     .descriptionHas = "response body exceeds 1 MiB"},
    {.label = "oneJsonStringOfTwoMebibytes",
     .provider = &coinbase,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n"
                         "Transfer-Encoding: chunked\r\n\r\n");
         const std::string piece = chunk(repeated(64 * 1024, 'x'));
         if (!connection.send(chunk("\""))) {
             return;
         }
         for (std::size_t sent = 0; sent < 2 * mebibyte; sent += 64 * 1024) {
             if (!connection.send(piece)) {
                 return;
             }
         }
         connection.send(chunk("\"") + "0\r\n\r\n");
     }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_WRITE_ERROR,
     .descriptionHas = "response body exceeds 1 MiB"},
    {.label = "headersWithoutEnd",
     .provider = &kraken,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("HTTP/1.1 200 OK\r\n");
         const std::string header = "X-Pad: " + repeated(1000, 'p') + "\r\n";
         for (std::size_t sent = 0; sent < 2 * mebibyte; sent += header.size()) {
             if (!connection.send(header)) {
                 return;
             }
         }
     }),
     .error = PriceError::Case::network,
     // libcurl's own limit on the header block (300 KiB) is met before ours.
     .curlCode = CURLE_RECV_ERROR,
     .descriptionHas = "Too large response headers"},
    {.label = "notHttpAtAll",
     .provider = &blockchain,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         connection.send("SSH-2.0-OpenSSH_9.2\r\n\r\n");
     }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_UNSUPPORTED_PROTOCOL,
     .descriptionHas = "HTTP/0.9"},
    {.label = "invalidUtf8",
     .provider = &coingecko,
     .setup = afterRequest([](RawTlsServer::Connection& connection) {
         const std::string body = "{\"bitcoin\":{\"usd\":65000},\"name\":\"\xff\xfe\xc3\"}";
         connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\n\r\n" + body);
     }),
     .error = PriceError::Case::decode},
    {.label = "certificateForAnotherHost",
     .provider = &mempool,
     .setup = httpsServer(
         [](LocalPriceServices& services) { return services.ca().issue({"example.org"}); },
         [](const httplib::Request&, httplib::Response& response) {
             response.set_content(R"({"USD":67000})", "application/json");
         }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_PEER_FAILED_VERIFICATION,
     .descriptionHas = "SSL",
     .requestsSeen = 0},
    {.label = "expiredCertificate",
     .provider = &coinbase,
     .setup = httpsServer(
         [](LocalPriceServices& services) {
             return services.ca().issue(LocalPriceServices::hostNames(),
                                        {.notBefore = -48h, .notAfter = -24h});
         },
         [](const httplib::Request&, httplib::Response& response) {
             response.set_content(R"({"data":{"amount":"67000","currency":"USD"}})",
                                  "application/json");
         }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_PEER_FAILED_VERIFICATION,
     .descriptionHas = "expired",
     .requestsSeen = 0},
    {.label = "certificateFromAnotherAuthority",
     .provider = &kraken,
     .setup =
         [](LocalPriceServices& services) {
             Scene scene =
                 httpsServer(realNames, [](const httplib::Request&, httplib::Response& response) {
                     response.set_content("{}", "application/json");
                 })(services);
             // The client trusts another authority than the one that signed the server's.
             scene.otherAuthority = std::make_unique<TestCa>();
             scene.caFile = scene.otherAuthority->certificatePath();
             return scene;
         },
     .error = PriceError::Case::network,
     .curlCode = CURLE_PEER_FAILED_VERIFICATION,
     .descriptionHas = "SSL",
     .requestsSeen = 0},
    {.label = "redirectLoop",
     .provider = &blockchain,
     .setup = httpsServer(realNames,
                          [](const httplib::Request& request, httplib::Response& response) {
                              response.set_redirect("https://" + request.get_header_value("Host") +
                                                        request.target,
                                                    302);
                          }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_TOO_MANY_REDIRECTS,
     .descriptionHas = "redirects",
     .requestsSeen = 1 + static_cast<int>(HttpsTransfer::maxRedirects)},
    {.label = "redirectToHttp",
     .provider = &coingecko,
     .setup = httpsServer(realNames,
                          [](const httplib::Request& request, httplib::Response& response) {
                              response.set_redirect("http://" + request.get_header_value("Host") +
                                                        request.target,
                                                    301);
                          }),
     .error = PriceError::Case::network,
     .curlCode = CURLE_UNSUPPORTED_PROTOCOL,
     .descriptionHas = "http",
     .requestsSeen = 1},
};

class HostileServerTest : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileServerTest, endsWithItsErrorInTimeAndInBoundedMemory) {
    const HostileCase& row = GetParam();
    LocalPriceServices services;
    Scene scene = row.setup(services);
    RequestOptions options = services.optionsForPort(scene.port, limits);
    if (!scene.caFile.empty()) {
        options.caFile = scene.caFile;
    }
    const auto provider = row.provider->make(options);
    ASSERT_EQ(provider->name(), row.provider->name);

    ASSERT_TRUE(ProcessSnapshot::resetPeak(::getpid()));
    const auto before = ProcessSnapshot::of(::getpid());
    ASSERT_TRUE(before);
    LogCapture log;
    const auto start = SteadyClock::now();
    const auto result = provider->fetchPrice();
    const auto elapsed = SteadyClock::now() - start;
    const auto after = ProcessSnapshot::of(::getpid());
    ASSERT_TRUE(after);
    const auto lines = log.lines();

    // The time it took, against the injected limits.
    EXPECT_LT(elapsed, limits.total + lateness);
    switch (row.ending) {
    case Ending::fast:
        break;
    case Ending::idleLimit:
        EXPECT_GE(elapsed, limits.idle - clockSlack);
        EXPECT_LT(elapsed, limits.idle + lateness);
        break;
    case Ending::totalLimit:
        EXPECT_GE(elapsed, limits.total - clockSlack);
        break;
    }

    // The memory it took.
    const long peakGrowthKiB = after->peakResidentKiB - before->residentKiB;
    if (residentMemoryIsMeaningful) {
        EXPECT_LT(peakGrowthKiB, peakGrowthLimitKiB);
    }
    std::printf("%s: %lld ms, resident memory peaked %ld KiB above the start; %s\n",
                row.label.c_str(),
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count()),
                peakGrowthKiB, lines.empty() ? "no log line" : lines.front().c_str());

    // The error and its log line.
    ASSERT_FALSE(result) << "a price of " << result->usd;
    const PriceError& error = result.error();
    ASSERT_EQ(error.code(), static_cast<int>(row.error)) << error.text();
    ASSERT_EQ(lines.size(), 1u);
    const std::string& name = row.provider->name;
    switch (row.error) {
    case PriceError::Case::network: {
        const TransferFailure& failure = *error.transferFailure();
        EXPECT_EQ(failure.curlCode, row.curlCode) << failure.description;
        EXPECT_NE(failure.description.find(row.descriptionHas), std::string::npos)
            << failure.description;
        EXPECT_EQ(lines[0], "[ticker] " + name + " network error: " + failure.description);
        break;
    }
    case PriceError::Case::timeout:
        EXPECT_EQ(lines[0], "[ticker] " + name + " timeout");
        break;
    case PriceError::Case::decode: {
        ASSERT_EQ(error.text().rfind(name + ": ", 0), 0u) << error.text();
        const std::string description = error.text().substr(name.size() + 2);
        EXPECT_FALSE(description.empty());
        EXPECT_EQ(lines[0], LogSink::oneLine("[ticker] " + name + " decode error: " + description));
        break;
    }
    case PriceError::Case::unexpectedResponse:
        FAIL() << "no row expects a silent failure";
    }
    // Whatever bytes the server sent, the line is one line of readable text.
    EXPECT_TRUE(isUtf8(lines[0])) << lines[0];
    EXPECT_EQ(lines[0].find('\n'), std::string::npos);

    if (row.requestsSeen >= 0) {
        ASSERT_TRUE(scene.https);
        EXPECT_EQ(static_cast<int>(scene.https->requests().size()), row.requestsSeen);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, HostileServerTest, testing::ValuesIn(rows),
                         [](const auto& info) { return info.param.label; });

} // namespace
