#pragma once

#include <QDBusConnection>
#include <QString>
#include <QStringList>

#include <chrono>
#include <filesystem>
#include <sys/types.h>

// A dbus-daemon of the test's own, on a socket in a fresh directory, that nothing else on
// the machine can see. It offers no activatable services, so a call to a name nobody owns
// fails at once instead of starting something; its own messages go to a log file in that
// directory rather than the test output. Connections made through it are closed, and
// the daemon is ended, when the object ends.
class PrivateBus {
public:
    // Throws std::runtime_error when the daemon does not start or names no address
    // within `startLimit`.
    explicit PrivateBus(std::chrono::milliseconds startLimit = std::chrono::seconds(10));
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QString address() const { return address_; }
    // A new connection of its own (its own unique name), as another process would have.
    QDBusConnection connect();

private:
    void stop();

    std::filesystem::path directory_;
    pid_t daemon_ = -1;
    int addressPipe_ = -1;
    QString address_;
    QStringList connectionNames_;
};
