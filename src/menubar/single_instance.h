#pragma once

#include <QLockFile>
#include <QString>

// One panel agent per user: a lock file in the user's runtime directory, held for the
// life of the process and freed by the system if the process dies.
class SingleInstance {
public:
    // $XDG_RUNTIME_DIR/brimwell-ticker.lock, or a per-user file in the temporary
    // directory when there is no runtime directory.
    static QString defaultPath();

    explicit SingleInstance(const QString& path = defaultPath());

    // True when this process now holds the lock.
    bool acquire();
    // The process that holds the lock, after acquire() failed; 0 when unknown.
    qint64 holder() const;

private:
    QLockFile lock_;
};
