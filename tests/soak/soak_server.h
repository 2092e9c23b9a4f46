#pragma once

#include "raw_tls_server.h"
#include "test_ca.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <vector>

// The price services as the soak test runs them: one TLS server for every host that
// answers each request with a random choice of a good price or a fast failure (a reset
// before or during the answer, a malformed body, a price that is not one, a 5xx status, an
// oversize body). It counts passes by the requests for mempool.space, which every pass
// asks first and exactly once, and can hold the request of chosen passes until the test
// has looked at the agent.
class SoakServer {
public:
    // What the server did, kind by kind.
    enum class Answer {
        goodPrice,
        resetBeforeAnswer,
        resetInBody,
        malformedBody,
        nonPositivePrice,
        serverError,
        oversizeAnnounced,
        oversizeStreamed,
    };

    SoakServer(const TestCa::Certificate& certificate, unsigned seed, std::set<int> holdAt);
    ~SoakServer();
    SoakServer(const SoakServer&) = delete;
    SoakServer& operator=(const SoakServer&) = delete;

    int port() const { return server_.port(); }

    // Passes begun so far.
    int passes() const;

    // Waits until the request of pass `pass` (one of `holdAt`) is being held. Gives up,
    // returning false, when no new pass has begun for `stall`.
    bool waitForHold(int pass, std::chrono::milliseconds stall);
    // Lets the held request go on; it gets a good price.
    void release();

    // The prices of every good answer, in the order they were sent.
    std::vector<double> goodPrices() const;
    // How often each kind of answer was sent.
    std::map<Answer, int> answers() const;
    // The log lines the agent owes for what was sent: a transfer or decoding failure of
    // each answer that is one, and a refused connection for every pass that got past
    // mempool.space (the next provider's host has no server).
    int failuresToLog() const;
    // Connections the agent had refused: one in each pass that got past mempool.space.
    int refusedConnections() const;

    static const char* describe(Answer answer);

private:
    void serve(RawTlsServer::Connection& connection);
    Answer choose(const std::string& host, int pass);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::mt19937 random_;
    std::set<int> holdAt_;
    int passes_ = 0;
    int heldPass_ = 0;
    bool released_ = false;
    bool stopping_ = false;
    std::vector<double> goodPrices_;
    std::map<Answer, int> answers_;
    int refusedPasses_ = 0;
    RawTlsServer server_; // last: its workers use everything above
};
