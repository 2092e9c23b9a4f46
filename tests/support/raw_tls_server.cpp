#include "raw_tls_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int listenOnLoopback(int& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 16) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("raw test server: cannot listen");
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int refusingPort() {
    int port = 0;
    const int fd = listenOnLoopback(port);
    ::close(fd);
    return port;
}

RawTlsServer::RawTlsServer(const TestCa::Certificate& certificate, Script script)
    : script_(std::move(script)) {
    context_ = SSL_CTX_new(TLS_server_method());
    if (!context_ ||
        SSL_CTX_use_certificate_file(context_, certificate.certificatePath.c_str(),
                                     SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, certificate.keyPath.c_str(), SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("raw test server: certificate not usable");
    }
    if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
        throw std::runtime_error("raw test server: pipe failed");
    }
    listenFd_ = listenOnLoopback(port_);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

RawTlsServer::~RawTlsServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        // Wakes every connection blocked in a read or write; each closes its own socket.
        for (const int fd : openFds_) {
            ::shutdown(fd, SHUT_RDWR);
        }
    }
    stopped_.notify_all();
    const char wake = 0;
    (void)!::write(wakeFds_[1], &wake, 1);
    acceptThread_.join();
    for (auto& [id, worker] : workers_) {
        worker.join();
    }
    ::close(listenFd_);
    ::close(wakeFds_[0]);
    ::close(wakeFds_[1]);
    SSL_CTX_free(context_);
}

std::string RawTlsServer::connectTo(const std::string& host) const {
    return host + ":443:127.0.0.1:" + std::to_string(port_);
}

void RawTlsServer::acceptLoop() {
    while (true) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            continue;
        }
        if (fds[1].revents != 0) {
            return;
        }
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        joinFinishedWorkers();
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        ++connections_;
        openFds_.insert(fd);
        std::thread worker([this, fd] { serve(fd); });
        const auto id = worker.get_id();
        workers_.emplace(id, std::move(worker));
    }
}

void RawTlsServer::joinFinishedWorkers() {
    std::vector<std::thread> done;
    {
        std::lock_guard lock(mutex_);
        for (const auto id : finished_) {
            done.push_back(std::move(workers_.at(id)));
            workers_.erase(id);
        }
        finished_.clear();
    }
    for (auto& worker : done) {
        worker.join();
    }
}

void RawTlsServer::serve(int fd) {
    {
        Connection connection(*this, fd);
        script_(connection);
    }
    forget(fd);
}

void RawTlsServer::forget(int fd) {
    std::lock_guard lock(mutex_);
    openFds_.erase(fd);
    ::close(fd);
    finished_.push_back(std::this_thread::get_id());
}

RawTlsServer::Connection::Connection(RawTlsServer& server, int fd) : server_(server), fd_(fd) {}

RawTlsServer::Connection::~Connection() {
    if (ssl_) {
        if (!resetDone_) {
            SSL_shutdown(ssl_);
        }
        SSL_free(ssl_);
    }
}

bool RawTlsServer::Connection::handshake() {
    ssl_ = SSL_new(server_.context_);
    SSL_set_fd(ssl_, fd_);
    return SSL_accept(ssl_) == 1;
}

std::string RawTlsServer::Connection::readRequest() {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        const int got = SSL_read(ssl_, buffer, sizeof buffer);
        if (got <= 0) {
            return {};
        }
        head.append(buffer, static_cast<std::size_t>(got));
    }
    return head;
}

bool RawTlsServer::Connection::send(std::string_view bytes) {
    return bytes.empty() || SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size())) > 0;
}

bool RawTlsServer::Connection::pause(std::chrono::milliseconds duration) {
    std::unique_lock lock(server_.mutex_);
    return !server_.stopped_.wait_for(lock, duration, [this] { return server_.stopping_; });
}

void RawTlsServer::Connection::holdUntilStopped() {
    std::unique_lock lock(server_.mutex_);
    server_.stopped_.wait(lock, [this] { return server_.stopping_; });
}

void RawTlsServer::Connection::reset() {
    const linger abortive{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
    resetDone_ = true;
}
