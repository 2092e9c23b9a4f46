#include "program_run.h"

#include <QElapsedTimer>

#include <signal.h>

QString ProgramRun::binary() {
    return QStringLiteral(BRIMWELL_BINARY);
}

QProcessEnvironment ProgramRun::headless(const QString& configHome, const QString& locale) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("XDG_CONFIG_HOME", configHome);
    environment.insert("LC_ALL", locale);
    environment.insert("LANG", locale);
    // Without a desktop session of the test's own making, the program finds none.
    for (const char* name :
         {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "DBUS_SESSION_BUS_ADDRESS"}) {
        environment.remove(name);
    }
    return environment;
}

ProgramRun::ProgramRun(const QStringList& arguments, const QString& configHome,
                       const QString& locale) {
    start(arguments, headless(configHome, locale));
}

ProgramRun::ProgramRun(const QStringList& arguments, const QString& configHome,
                       const QProcessEnvironment& session) {
    QProcessEnvironment environment = headless(configHome, "C.UTF-8");
    for (const QString& name : session.keys()) {
        if (session.value(name).isEmpty()) {
            environment.remove(name);
        } else {
            environment.insert(name, session.value(name));
        }
    }
    start(arguments, environment);
}

void ProgramRun::start(const QStringList& arguments, const QProcessEnvironment& environment) {
    process_.setProcessEnvironment(environment);
    process_.start(binary(), arguments);
    process_.waitForStarted();
}

ProgramRun::~ProgramRun() {
    if (process_.state() != QProcess::NotRunning) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

std::optional<QString> ProgramRun::readLine(std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (true) {
        pendingOut_ += process_.readAllStandardOutput();
        err_ += process_.readAllStandardError();
        const auto end = pendingOut_.indexOf('\n');
        if (end >= 0) {
            const QString line = QString::fromUtf8(pendingOut_.left(end));
            pendingOut_.remove(0, end + 1);
            return line;
        }
        const auto left = timeout.count() - clock.elapsed();
        if (left <= 0 ||
            (process_.state() == QProcess::NotRunning && process_.bytesAvailable() == 0)) {
            return std::nullopt;
        }
        process_.waitForReadyRead(static_cast<int>(std::min<qint64>(left, 100)));
    }
}

std::optional<int> ProgramRun::waitForExit(std::chrono::milliseconds timeout) {
    if (process_.state() != QProcess::NotRunning &&
        !process_.waitForFinished(static_cast<int>(timeout.count()))) {
        return std::nullopt;
    }
    pendingOut_ += process_.readAllStandardOutput();
    err_ += process_.readAllStandardError();
    if (process_.exitStatus() != QProcess::NormalExit) {
        return -1;
    }
    return process_.exitCode();
}

void ProgramRun::signal(int number) {
    ::kill(static_cast<pid_t>(process_.processId()), number);
}

QString ProgramRun::standardError() {
    err_ += process_.readAllStandardError();
    return QString::fromUtf8(err_);
}
