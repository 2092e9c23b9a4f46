#pragma once

#include "price/https_transfer.h"
#include "test_ca.h"
#include "tls_test_server.h"

#include <memory>
#include <string>
#include <vector>

// The five price services' hosts served by one local HTTPS server whose certificate names
// all five, and the request options that send a client there: every request goes to
// 127.0.0.1 under its real host name, trusting only the test CA.
class LocalPriceServices {
public:
    static const std::vector<std::string>& hostNames();

    LocalPriceServices();

    const TestCa& ca() const { return ca_; }
    const TestCa::Certificate& certificate() const { return certificate_; }
    TlsTestServer& server() { return *server_; }

    // Register the server's handlers first.
    void start() { server_->start(); }

    RequestOptions options(TransferLimits limits = {}) const;

    // Options that send every host to `port` instead (a raw test server, a refusing port).
    RequestOptions optionsForPort(int port, TransferLimits limits = {}) const;

private:
    TestCa ca_;
    TestCa::Certificate certificate_;
    std::unique_ptr<TlsTestServer> server_;
};
