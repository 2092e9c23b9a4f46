#include "ini_codec.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include <atomic>

namespace {

// A path no QSettings of this process has seen: a fresh directory and a number that is
// never handed out twice.
QString freshPath(const QTemporaryDir& scratch) {
    static std::atomic<unsigned long long> counter{0};
    return scratch.filePath(QString::number(counter++) + QStringLiteral(".conf"));
}

// In the user's runtime directory when there is one, which sessions keep in memory:
// QSettings syncs every file it writes, and for a scratch file that is a disk flush for
// nothing on every store. Elsewhere in the temporary directory.
QTemporaryDir makeScratch() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime)) {
        QTemporaryDir inRuntime(runtime + QStringLiteral("/brimwell-ticker-XXXXXX"));
        if (inRuntime.isValid()) {
            return inRuntime;
        }
    }
    return QTemporaryDir();
}

} // namespace

std::optional<QVariantMap> IniCodec::parse(const QByteArray& text) {
    const QTemporaryDir scratch = makeScratch();
    if (!scratch.isValid()) {
        return std::nullopt;
    }
    const QString path = freshPath(scratch);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush()) {
        return std::nullopt;
    }
    file.close();

    const QSettings settings(path, QSettings::IniFormat);
    if (settings.status() == QSettings::AccessError) {
        return std::nullopt;
    }
    QVariantMap values;
    for (const QString& key : settings.allKeys()) {
        if (!key.isEmpty()) {
            values.insert(key, settings.value(key));
        }
    }
    return values;
}

std::optional<QByteArray> IniCodec::serialize(const QVariantMap& values) {
    const QTemporaryDir scratch = makeScratch();
    if (!scratch.isValid()) {
        return std::nullopt;
    }
    const QString path = freshPath(scratch);
    {
        QSettings settings(path, QSettings::IniFormat);
        for (auto entry = values.cbegin(); entry != values.cend(); ++entry) {
            settings.setValue(entry.key(), entry.value());
        }
        settings.sync();
        if (settings.status() != QSettings::NoError) {
            return std::nullopt;
        }
    }
    if (values.isEmpty()) {
        return QByteArray(); // QSettings writes no file for no keys
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        return std::nullopt;
    }
    return text;
}
