#pragma once

#include <chrono>
#include <string>
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
