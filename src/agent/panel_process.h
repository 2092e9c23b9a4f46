#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

// The program's GUI runs in a process of its own, brimwell-ticker-panel, started only when
// something must be drawn: the popover on a click, or the classic tray icon when the
// desktop has no StatusNotifierItem host. It reads the agent over the session bus, so the
// agent itself maps no GUI library. One object runs one such process at a time.
class PanelProcess : public QObject {
    Q_OBJECT

public:
    explicit PanelProcess(QObject* parent = nullptr);
    ~PanelProcess() override;

    // Where the GUI program is: beside the agent's own directory, under
    // ../libexec/brimwell-ticker/, in the build tree as when installed.
    static QString program();

    // Starts the program with `arguments`, unless it runs already; a failure to start is
    // said on stderr and ends as `finished(-1)`.
    bool start(const QStringList& arguments);
    bool isRunning() const;
    // The running process's id, 0 when none runs.
    qint64 processId() const;
    // Asks the process to end (it closes what it shows and leaves).
    void stop();

signals:
    // The process ended; `status` is its exit status, -1 when it crashed.
    void finished(int status);

private:
    QProcess* process_ = nullptr;
};
