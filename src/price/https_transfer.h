#pragma once

#include "price_provider.h"

#include <chrono>
#include <cstddef>
#include <expected>
#include <string>
#include <string_view>
#include <vector>

// How long one request may take. Both limits are 10 seconds in production; tests make
// them shorter.
struct TransferLimits {
    // The whole request, connection set-up included.
    std::chrono::milliseconds total{10'000};
    // The longest stretch without a new byte from the server, counted from the start.
    std::chrono::milliseconds idle{10'000};
};

// What every request of a run shares: the limits, and where to connect and whom to trust.
// The defaults are production's: the real hosts and the system's certificate authorities.
struct RequestOptions {
    // "HOST:PORT:HOST2:PORT2" entries, as curl's --connect-to: a request for HOST:PORT is
    // sent to HOST2:PORT2 while TLS still checks the certificate for HOST.
    std::vector<std::string> connectTo;
    // A PEM file of certificate authorities to trust instead of the system's; empty for
    // the system's.
    std::string caFile;
    TransferLimits limits;
};

// One HTTPS GET on a fresh libcurl handle that shares nothing with any other call: no
// cookies, no cache, no connection reuse. Redirects stay on https (at most 5), peer and
// host are always verified, and memory stays bounded whatever the server sends.
class HttpsTransfer {
public:
    static constexpr std::size_t maxBodyBytes = std::size_t{1} << 20;
    static constexpr std::size_t maxHeaderBytes = std::size_t{1} << 20;
    static constexpr long maxRedirects = 5;
    // The description of a transfer failure for a body past maxBodyBytes.
    static constexpr std::string_view bodyTooLarge = "response body exceeds 1 MiB";

    struct Response {
        long status = 0; // 0 when the answer was not HTTP
        std::string body;
    };

    struct Error {
        // `aborted`: ended by abortAll(), not by the server or the network.
        enum class Kind { invalidUrl, timedOut, aborted, failed };
        Kind kind = Kind::failed;
        TransferFailure failure; // why, for `failed`
    };

    // Blocks for at most the total limit (plus the time to tear the connection down).
    static std::expected<Response, Error> get(std::string_view url, const RequestOptions& options);

    // Ends every transfer in flight within a quarter of a second, and every later one at
    // once, as `aborted`: for a program that is ending and should not wait for a slow
    // server. There is no way back.
    static void abortAll();
};
