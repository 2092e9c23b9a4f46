#pragma once

#include "price_error.h"
#include "request_options.h"

#include <cstddef>
#include <expected>
#include <string>
#include <string_view>

// One HTTPS GET on a fresh libcurl handle that shares nothing with any other call: no
// cookies, no cache, no connection reuse. Redirects stay on https (at most 5), peer and
// host are always verified, and memory stays bounded whatever the server sends.
class HttpsTransfer {
public:
    static constexpr std::size_t maxBodyBytes = std::size_t{1} << 20;
    static constexpr std::size_t maxHeaderBytes = std::size_t{1} << 20;
    static constexpr long maxRedirects = 5;

    struct Response {
        long status = 0; // 0 when the answer was not HTTP
        std::string body;
    };

    struct Error {
        enum class Kind { invalidUrl, timedOut, failed };
        Kind kind = Kind::failed;
        TransferFailure failure; // why, for `failed`
    };

    // Blocks for at most the total limit (plus the time to tear the connection down).
    static std::expected<Response, Error> get(std::string_view url, const RequestOptions& options);

    // Ends every transfer in flight within a quarter of a second, and every later one at
    // once, as failures: for a program that is ending and should not wait for a slow
    // server. There is no way back.
    static void abortAll();
};
