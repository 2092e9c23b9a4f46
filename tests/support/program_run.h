#pragma once

#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>

// The built program run as a user would: its own environment (a private settings
// directory, a fixed locale), its stdout read line by line, its stderr kept.
class ProgramRun {
public:
    // `configHome` becomes XDG_CONFIG_HOME; the locale is C.UTF-8 unless `locale` says
    // otherwise.
    ProgramRun(const QStringList& arguments, const QString& configHome,
               const QString& locale = "C.UTF-8");
    // The same with variables of a desktop session set (or removed, when empty) on top.
    ProgramRun(const QStringList& arguments, const QString& configHome,
               const QProcessEnvironment& session);
    ~ProgramRun();
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

    // The next line of stdout, without its line break; nullopt when none came in time.
    std::optional<QString> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Waits for the exit; its status, or nullopt if it is still running after `timeout`.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    void signal(int number);
    // Everything written to stderr so far (all of it once the program has exited).
    QString standardError();

    static QString binary();

    qint64 pid() const { return process_.processId(); }

private:
    static QProcessEnvironment headless(const QString& configHome, const QString& locale);
    void start(const QStringList& arguments, const QProcessEnvironment& environment);

    QProcess process_;
    QByteArray pendingOut_;
    QByteArray err_;
};
