#include "settings_file.h"

#include "atomic_file_writer.h"
#include "ini_codec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaType>
#include <QVariant>

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <utility>

namespace {

// INI text reads as a string whatever it holds; QSettings writes numbers that way too.
// Byte strings, lists and other "@" forms are not numbers here.
std::optional<double> numberIn(const QVariant& value) {
    if (value.typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = value.toString().toDouble(&ok); // the C locale's form, always
    return ok ? std::optional(number) : std::nullopt;
}

// Everything left to read from `fd`, which it closes; nullopt on a read error.
std::optional<QByteArray> readToEnd(int fd) {
    QByteArray text;
    char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            ::close(fd);
            return got == 0 ? std::optional(text) : std::nullopt;
        }
        text.append(buffer, got);
    }
}

} // namespace

QString SettingsFile::defaultPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/brimwell-ticker/brimwell-ticker.conf");
}

SettingsFile::SettingsFile(QString path) : path_(std::move(path)) {}

const QString& SettingsFile::path() const {
    return path_;
}

std::optional<QVariantMap> SettingsFile::readAll() const {
    // Opened at once rather than checked for first: a store of another process may rename
    // a new file over it at any moment, and Qt's existence check has been seen to miss a
    // file in that moment.
    const int fd = ::open(QFile::encodeName(path_).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT ? std::optional(QVariantMap()) : std::nullopt;
    }
    const auto text = readToEnd(fd);
    if (!text) {
        return std::nullopt; // a directory, say
    }
    return IniCodec::parse(*text);
}

double SettingsFile::updateInterval() const {
    const auto values = readAll();
    if (!values) {
        return defaultUpdateInterval;
    }
    return numberIn(values->value(QString::fromLatin1(updateIntervalKey)))
        .value_or(defaultUpdateInterval);
}

std::optional<QByteArray> SettingsFile::readData(const QString& key) const {
    const auto values = readAll();
    if (!values) {
        return std::nullopt;
    }
    const QVariant value = values->value(key);
    if (value.typeId() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return value.toByteArray();
}

bool SettingsFile::writeData(const QString& key, const QByteArray& value) {
    // A file that exists but cannot be read is left alone: writing would drop the keys
    // that could not be seen.
    auto values = readAll();
    if (!values || key.isEmpty()) {
        return false;
    }
    values->insert(key, value);

    const auto text = IniCodec::serialize(*values);
    if (!text) {
        return false;
    }
    // The text must give back every key with its value before it may replace the file.
    const auto check = IniCodec::parse(*text);
    if (!check || *check != *values) {
        return false;
    }

    const QString directory = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(directory)) { // mode 0777 less the umask
        return false;
    }
    return AtomicFileWriter::write(path_, *text);
}
