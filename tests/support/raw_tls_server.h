#pragma once

#include "test_ca.h"

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

// A TLS server on 127.0.0.1 that does, byte by byte, what a test script tells it: finish
// the handshake or not, answer or stay silent, drip, reset the connection. For the server
// behaviours that an ordinary HTTP server library will not produce.
class RawTlsServer {
public:
    // One accepted connection, handed to the script on its own thread.
    class Connection {
    public:
        // Completes the TLS handshake; false if the client gave up.
        bool handshake();
        // Reads the request head (up to the blank line); empty if the client went away.
        std::string readRequest();
        // Sends bytes over TLS; false once the client is gone.
        bool send(std::string_view bytes);
        // Waits `duration` unless the server stops first; false when it stops.
        bool pause(std::chrono::milliseconds duration);
        // Stays silent until the server stops.
        void holdUntilStopped();
        // Ends the connection with a TCP reset instead of an orderly close.
        void reset();

    private:
        friend class RawTlsServer;
        Connection(RawTlsServer& server, int fd);
        ~Connection();

        RawTlsServer& server_;
        int fd_;
        SSL* ssl_ = nullptr;
        bool resetDone_ = false;
    };

    using Script = std::function<void(Connection&)>;

    RawTlsServer(const TestCa::Certificate& certificate, Script script);
    ~RawTlsServer();
    RawTlsServer(const RawTlsServer&) = delete;
    RawTlsServer& operator=(const RawTlsServer&) = delete;

    int port() const { return port_; }
    std::string connectTo(const std::string& host) const;
    int connectionCount() const { return connections_.load(); }

private:
    void acceptLoop();
    void serve(int fd);
    void forget(int fd);
    void joinFinishedWorkers();

    SSL_CTX* context_ = nullptr;
    Script script_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<int> connections_{0};
    std::thread acceptThread_;

    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stopping_ = false;
    std::set<int> openFds_;
    // Workers are joined as soon as their connection has ended, so that a server that
    // takes connections for hours holds only the threads of the open ones.
    std::map<std::thread::id, std::thread> workers_;
    std::vector<std::thread::id> finished_;
};

// A port on 127.0.0.1 that nothing listens on, so a connection there is refused.
int refusingPort();
