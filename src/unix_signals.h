#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <memory>

// SIGUSR1, SIGINT and SIGTERM turned into signals on the main thread. The handlers only
// write a byte to a pipe; everything else happens in the event loop. They are installed
// by install(), the first thing the program does, so that a signal that comes before the
// event loop runs is kept until an object of this class reads the pipe.
class UnixSignals : public QObject {
    Q_OBJECT

public:
    static void install();

    // Reads the pipe from now on, what came before included. Needs the application object.
    explicit UnixSignals(QObject* parent = nullptr);

    // The first of SIGINT and SIGTERM received, 0 before either.
    static int quitSignal();

signals:
    void refreshRequested(); // SIGUSR1
    void quitRequested();    // SIGINT, SIGTERM

private:
    void drain();

    std::unique_ptr<QSocketNotifier> notifier_;
};
