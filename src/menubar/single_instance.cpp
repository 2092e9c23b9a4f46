#include "single_instance.h"

#include <QDir>

#include <unistd.h>

QString SingleInstance::defaultPath() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QDir(runtime).exists()) {
        return runtime + "/brimwell-ticker.lock";
    }
    return QDir::tempPath() + "/brimwell-ticker-" + QString::number(::getuid()) + ".lock";
}

SingleInstance::SingleInstance(const QString& path) : lock_(path) {
    // The lock never goes stale by age: only a dead holder (checked by pid) frees it.
    lock_.setStaleLockTime(0);
}

bool SingleInstance::acquire() {
    return lock_.tryLock(0);
}

qint64 SingleInstance::holder() const {
    qint64 pid = 0;
    QString host;
    QString application;
    return lock_.getLockInfo(&pid, &host, &application) ? pid : 0;
}
