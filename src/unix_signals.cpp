#include "unix_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};
// Set once: two signals may be handled at the same moment on two threads.
std::atomic<int> firstQuitSignal = 0;
static_assert(std::atomic<int>::is_always_lock_free, "used in a signal handler");

void onSignal(int number) {
    const int saved = errno;
    if (number != SIGUSR1) {
        int none = 0;
        firstQuitSignal.compare_exchange_strong(none, number);
    }
    const auto byte = static_cast<unsigned char>(number);
    (void)!::write(pipeFds[1], &byte, 1);
    errno = saved;
}

} // namespace

void UnixSignals::install() {
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    for (const int number : {SIGUSR1, SIGINT, SIGTERM}) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        sigaction(number, &action, nullptr);
    }
}

int UnixSignals::quitSignal() {
    return firstQuitSignal;
}

UnixSignals::UnixSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] < 0) {
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &UnixSignals::drain);
    // What came before the event loop ran, once it runs.
    QMetaObject::invokeMethod(this, &UnixSignals::drain, Qt::QueuedConnection);
}

void UnixSignals::drain() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1) {
        if (byte == SIGUSR1) {
            emit refreshRequested();
        } else {
            emit quitRequested();
        }
    }
}
