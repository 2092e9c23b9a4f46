#pragma once

#include "test_ca.h"

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// An HTTPS server on 127.0.0.1 (cpp-httplib) with a certificate for the given host names,
// so that a client sent here with --connect-to still verifies the real names. It records
// every request it receives.
class TlsTestServer {
public:
    struct Request {
        std::string host;
        std::string target; // path and query as sent
        httplib::Headers headers;
    };

    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    TlsTestServer(const TestCa::Certificate& certificate);
    ~TlsTestServer();
    TlsTestServer(const TlsTestServer&) = delete;
    TlsTestServer& operator=(const TlsTestServer&) = delete;

    // Register before start(). `path` is matched without the query.
    void get(const std::string& path, Handler handler);
    // Answers `path` with a fixed status and body (JSON content type).
    void answer(const std::string& path, int status, std::string body);

    void start();
    int port() const { return port_; }

    // "host:443:127.0.0.1:port", the connect-to entry that sends `host` here.
    std::string connectTo(const std::string& host) const;

    std::vector<Request> requests() const;

    // For handlers that hang: waits until the server stops or `limit` passes; true if the
    // server is stopping.
    bool waitForStop(std::chrono::milliseconds limit) const;

private:
    httplib::SSLServer server_;
    std::thread thread_;
    int port_ = 0;
    mutable std::mutex mutex_;
    mutable std::condition_variable stopped_;
    bool stopping_ = false;
    std::vector<Request> requests_;
};
