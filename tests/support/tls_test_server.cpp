#include "tls_test_server.h"

#include <stdexcept>

TlsTestServer::TlsTestServer(const TestCa::Certificate& certificate)
    : server_(certificate.certificatePath.c_str(), certificate.keyPath.c_str()) {
    if (!server_.is_valid()) {
        throw std::runtime_error("test server: certificate not usable");
    }
    // One request per connection, so that stopping never waits for an idle keep-alive.
    server_.set_keep_alive_max_count(1);
    // Recorded on arrival: a log entry would be written only after the answer has gone
    // out, when the client may already have returned and the test looked.
    server_.set_pre_routing_handler([this](const httplib::Request& request, httplib::Response&) {
        std::lock_guard lock(mutex_);
        requests_.push_back({request.get_header_value("Host"), request.target, request.headers});
        return httplib::Server::HandlerResponse::Unhandled;
    });
}

TlsTestServer::~TlsTestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    stopped_.notify_all();
    server_.stop();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TlsTestServer::get(const std::string& path, Handler handler) {
    server_.Get(path, std::move(handler));
}

void TlsTestServer::answer(const std::string& path, int status, std::string body) {
    get(path,
        [status, body = std::move(body)](const httplib::Request&, httplib::Response& response) {
            response.status = status;
            response.set_content(body, "application/json");
        });
}

void TlsTestServer::start() {
    port_ = server_.bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("test server: bind failed");
    }
    thread_ = std::thread([this] { server_.listen_after_bind(); });
}

std::string TlsTestServer::connectTo(const std::string& host) const {
    return host + ":443:127.0.0.1:" + std::to_string(port_);
}

std::vector<TlsTestServer::Request> TlsTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TlsTestServer::waitForStop(std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return stopped_.wait_for(lock, limit, [this] { return stopping_; });
}
