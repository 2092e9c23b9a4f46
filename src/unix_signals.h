#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// SIGUSR1, SIGINT and SIGTERM turned into signals on the main thread. The handlers only
// write a byte to a pipe; everything else happens in the event loop.
class UnixSignals : public QObject {
    Q_OBJECT

public:
    explicit UnixSignals(QObject* parent = nullptr);
    ~UnixSignals() override;

signals:
    void refreshRequested(); // SIGUSR1
    void quitRequested();    // SIGINT, SIGTERM

private:
    void drain();

    std::unique_ptr<QSocketNotifier> notifier_;
};
