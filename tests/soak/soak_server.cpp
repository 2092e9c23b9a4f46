#include "soak_server.h"

#include <cstdio>
#include <utility>

namespace {

using namespace std::chrono_literals;

// The first line of a request head and its Host header.
struct RequestHead {
    std::string host;
    std::string target;
};

RequestHead parseHead(const std::string& head) {
    RequestHead request;
    const auto firstSpace = head.find(' ');
    const auto secondSpace = head.find(' ', firstSpace + 1);
    if (firstSpace != std::string::npos && secondSpace != std::string::npos) {
        request.target = head.substr(firstSpace + 1, secondSpace - firstSpace - 1);
    }
    const auto at = head.find("\r\nHost: ");
    if (at != std::string::npos) {
        const auto start = at + 8;
        request.host = head.substr(start, head.find("\r\n", start) - start);
    }
    return request;
}

std::string priceText(double usd) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", usd);
    return text;
}

// The body each service answers with, holding `usd` where the service puts its price.
std::string priceBody(const std::string& host, double usd) {
    const std::string number = priceText(usd);
    if (host == "mempool.space") {
        return R"({"time":1700000000,"USD":)" + number + "}";
    }
    if (host == "api.kraken.com") {
        return R"({"error":[],"result":{"XXBTZUSD":{"c":[")" + number + R"(","0.01"]}}})";
    }
    if (host == "blockchain.info") {
        return R"({"USD":{"last":)" + number + R"(,"symbol":"$"}})";
    }
    if (host == "api.coingecko.com") {
        return R"({"bitcoin":{"usd":)" + number + "}}";
    }
    return R"({"data":{"amount":")" + number + R"(","currency":"USD"}})";
}

std::string response(const std::string& statusLine, const std::string& body) {
    return "HTTP/1.1 " + statusLine +
           "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

} // namespace

const char* SoakServer::describe(Answer answer) {
    switch (answer) {
    case Answer::goodPrice:
        return "good price";
    case Answer::resetBeforeAnswer:
        return "reset before the answer";
    case Answer::resetInBody:
        return "reset in the body";
    case Answer::malformedBody:
        return "malformed body";
    case Answer::nonPositivePrice:
        return "price zero or negative";
    case Answer::serverError:
        return "5xx status";
    case Answer::oversizeAnnounced:
        return "oversize body, announced";
    case Answer::oversizeStreamed:
        return "oversize body, streamed";
    }
    return "?";
}

SoakServer::SoakServer(const TestCa::Certificate& certificate, unsigned seed, std::set<int> holdAt)
    : random_(seed), holdAt_(std::move(holdAt)),
      server_(certificate, [this](RawTlsServer::Connection& connection) { serve(connection); }) {}

SoakServer::~SoakServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
}

int SoakServer::passes() const {
    std::lock_guard lock(mutex_);
    return passes_;
}

bool SoakServer::waitForHold(int pass, std::chrono::milliseconds stall) {
    std::unique_lock lock(mutex_);
    while (heldPass_ != pass) {
        const int before = passes_;
        changed_.wait_for(lock, stall, [&] { return heldPass_ == pass || passes_ != before; });
        if (heldPass_ != pass && passes_ == before) {
            return false;
        }
    }
    return true;
}

void SoakServer::release() {
    {
        std::lock_guard lock(mutex_);
        released_ = true;
    }
    changed_.notify_all();
}

std::vector<double> SoakServer::goodPrices() const {
    std::lock_guard lock(mutex_);
    return goodPrices_;
}

std::map<SoakServer::Answer, int> SoakServer::answers() const {
    std::lock_guard lock(mutex_);
    return answers_;
}

int SoakServer::failuresToLog() const {
    std::lock_guard lock(mutex_);
    int lines = refusedPasses_;
    for (const auto& [answer, count] : answers_) {
        switch (answer) {
        case Answer::resetBeforeAnswer:
        case Answer::resetInBody:
        case Answer::malformedBody:
        case Answer::oversizeAnnounced:
        case Answer::oversizeStreamed:
            lines += count;
            break;
        case Answer::goodPrice:
        case Answer::nonPositivePrice:
        case Answer::serverError:
            break;
        }
    }
    return lines;
}

int SoakServer::refusedConnections() const {
    std::lock_guard lock(mutex_);
    return refusedPasses_;
}

SoakServer::Answer SoakServer::choose(const std::string& host, int pass) {
    // The first pass does a little of everything once: a decoding failure, a refused
    // connection, a price.
    if (pass == 1) {
        return host == "mempool.space" ? Answer::malformedBody : Answer::goodPrice;
    }
    if (holdAt_.contains(pass) && host == "mempool.space") {
        return Answer::goodPrice;
    }
    // Out of 100: a little more than a third good prices, the rest fast failures.
    const int draw = std::uniform_int_distribution<int>(0, 99)(random_);
    if (draw < 36) {
        return Answer::goodPrice;
    }
    if (draw < 46) {
        return Answer::resetBeforeAnswer;
    }
    if (draw < 56) {
        return Answer::resetInBody;
    }
    if (draw < 70) {
        return Answer::malformedBody;
    }
    if (draw < 80) {
        return Answer::nonPositivePrice;
    }
    if (draw < 92) {
        return Answer::serverError;
    }
    if (draw < 98) {
        return Answer::oversizeAnnounced;
    }
    return Answer::oversizeStreamed;
}

void SoakServer::serve(RawTlsServer::Connection& connection) {
    if (!connection.handshake()) {
        return;
    }
    const std::string head = connection.readRequest();
    if (head.empty()) {
        return;
    }
    const RequestHead request = parseHead(head);

    Answer answer;
    double usd = 0;
    int variant = 0;
    {
        std::unique_lock lock(mutex_);
        int pass = passes_;
        if (request.host == "mempool.space") {
            pass = ++passes_;
            changed_.notify_all();
            if (holdAt_.contains(pass)) {
                heldPass_ = pass;
                released_ = false;
                changed_.notify_all();
                // Bounded, so that a test that has gone wrong does not hang the server; the
                // agent's own idle limit is longer than any look the test takes.
                changed_.wait_for(lock, 60s, [this] { return released_ || stopping_; });
                heldPass_ = 0;
                if (stopping_) {
                    return;
                }
            }
        }
        answer = choose(request.host, pass);
        // Good prices from 20,000 to 89,999 dollars and a quarter, so that each one's title
        // is its whole dollars; the failing answers carry prices above that range, which the
        // agent must never show.
        usd = answer == Answer::goodPrice
                  ? std::uniform_int_distribution<int>(20'000, 89'999)(random_) + 0.25
                  : std::uniform_int_distribution<int>(90'000, 99'999)(random_) + 0.25;
        variant = std::uniform_int_distribution<int>(0, 4)(random_);
        ++answers_[answer];
        if (answer == Answer::goodPrice) {
            goodPrices_.push_back(usd);
        }
        if (request.host == "mempool.space" && answer != Answer::goodPrice) {
            ++refusedPasses_; // the next provider's host has no server
        }
    }

    switch (answer) {
    case Answer::goodPrice:
        connection.send(response("200 OK", priceBody(request.host, usd)));
        break;
    case Answer::resetBeforeAnswer:
        connection.reset();
        break;
    case Answer::resetInBody: {
        const std::string body = priceBody(request.host, usd);
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                        "\r\n\r\n" + body.substr(0, body.size() / 2));
        connection.reset();
        break;
    }
    case Answer::malformedBody: {
        const std::string bodies[] = {
            "<html><body>502 Bad Gateway</body></html>",
            priceBody(request.host, usd).substr(0, 12),
            "{\"USD\":\"\xff\xfe\"}",
            std::string(100, '[') + std::string(100, ']'),
            "",
        };
        connection.send(response("200 OK", bodies[variant]));
        break;
    }
    case Answer::nonPositivePrice:
        connection.send(response("200 OK", priceBody(request.host, variant % 2 == 0 ? 0 : -usd)));
        break;
    case Answer::serverError: {
        const char* statuses[] = {"500 Internal Server Error", "502 Bad Gateway",
                                  "503 Service Unavailable", "504 Gateway Timeout",
                                  "500 Internal Server Error"};
        connection.send(response(statuses[variant], priceBody(request.host, usd)));
        break;
    }
    case Answer::oversizeAnnounced: {
        const std::string body = priceBody(request.host, usd);
        connection.send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(2 << 20) +
                        "\r\n\r\n" + body);
        break;
    }
    case Answer::oversizeStreamed: {
        // Just over the limit, in pieces, without a length: only counting can stop it.
        connection.send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" +
                        priceBody(request.host, usd));
        const std::string piece(64 * 1024, ' ');
        for (int i = 0; i < 17 && connection.send(piece); ++i) {
        }
        break;
    }
    }
}
