#include "private_bus.h"

#include <QDBusError>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <string_view>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>

namespace {

std::filesystem::path makeDirectory() {
    std::string pattern = (std::filesystem::temp_directory_path() / "brimwell-bus-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        throw std::runtime_error("mkdtemp failed");
    }
    return pattern;
}

void writeConfig(const std::filesystem::path& file, const std::filesystem::path& socket) {
    std::ofstream out(file);
    out << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:path="
        << socket.string()
        << "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
    if (!out.flush()) {
        throw std::runtime_error("cannot write the bus configuration");
    }
}

// The first line the daemon prints, without its line break.
std::string readLine(int fd, std::chrono::milliseconds limit) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw std::runtime_error("dbus-daemon named no address in time");
        }
        pollfd ready{fd, POLLIN, 0};
        const int polled = ::poll(&ready, 1, int(left.count()));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled <= 0) {
            continue;
        }
        char c = 0;
        const ssize_t got = ::read(fd, &c, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            throw std::runtime_error("dbus-daemon ended before naming its address");
        }
        if (c == '\n') {
            return line;
        }
        line.push_back(c);
    }
}

std::string findProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const auto colon = dirs.find(':');
        const std::filesystem::path candidate = std::filesystem::path(dirs.substr(0, colon)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) {
            return candidate.string();
        }
        dirs = colon == std::string_view::npos ? std::string_view() : dirs.substr(colon + 1);
    }
    throw std::runtime_error(name + " not found on PATH");
}

} // namespace

PrivateBus::PrivateBus(std::chrono::milliseconds startLimit) : directory_(makeDirectory()) {
    try {
        const auto config = directory_ / "bus.conf";
        writeConfig(config, directory_ / "socket");

        const std::string program = findProgram("dbus-daemon");
        const std::string configArgument = "--config-file=" + config.string();
        const int log = ::open((directory_ / "daemon.log").c_str(),
                               O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        int fds[2];
        if (log < 0 || ::pipe2(fds, O_CLOEXEC) != 0) {
            if (log >= 0) {
                ::close(log);
            }
            throw std::system_error(errno, std::generic_category(), "daemon output");
        }
        addressPipe_ = fds[0];
        const char* argv[] = {program.c_str(), configArgument.c_str(), "--nofork",
                              "--print-address", nullptr};
        const pid_t parent = ::getpid();
        daemon_ = ::fork();
        if (daemon_ == 0) {
            // Only async-signal-safe calls until exec. The daemon ends with the test process,
            // even one that crashes.
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent) {
                ::_exit(127);
            }
            ::dup2(fds[1], STDOUT_FILENO);
            ::dup2(log, STDERR_FILENO);
            ::execv(program.c_str(), const_cast<char* const*>(argv));
            ::_exit(127);
        }
        const int forkError = errno;
        ::close(fds[1]);
        ::close(log);
        if (daemon_ < 0) {
            throw std::system_error(forkError, std::generic_category(), "fork");
        }
        address_ = QString::fromStdString(readLine(addressPipe_, startLimit));
    } catch (...) {
        stop();
        throw;
    }
}

PrivateBus::~PrivateBus() {
    stop();
}

QDBusConnection PrivateBus::connect() {
    const QString name =
        QStringLiteral("brimwell-test-bus-%1-%2").arg(quintptr(this)).arg(connectionNames_.size());
    QDBusConnection connection = QDBusConnection::connectToBus(address_, name);
    connectionNames_.append(name);
    if (!connection.isConnected()) {
        throw std::runtime_error("cannot connect to the private bus: " +
                                 connection.lastError().message().toStdString());
    }
    return connection;
}

void PrivateBus::stop() {
    for (const QString& name : connectionNames_) {
        QDBusConnection::disconnectFromBus(name);
    }
    connectionNames_.clear();
    if (daemon_ > 0) {
        ::kill(daemon_, SIGTERM);
        int status = 0;
        while (::waitpid(daemon_, &status, 0) < 0 && errno == EINTR) {
        }
        daemon_ = -1;
    }
    if (addressPipe_ >= 0) {
        ::close(addressPipe_);
        addressPipe_ = -1;
    }
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
}
