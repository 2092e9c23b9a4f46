#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>

#include <optional>

// The user's settings: one INI file as QSettings writes it, with values under keys such as
// "BrimwellTicker.UpdateInterval" in its [General] group. Every call reads or writes the
// file afresh, so edits from outside and stores of other processes are seen.
class SettingsFile {
public:
    static constexpr const char* updateIntervalKey = "BrimwellTicker.UpdateInterval";
    static constexpr double defaultUpdateInterval = 60;

    // $XDG_CONFIG_HOME/brimwell-ticker/brimwell-ticker.conf, ~/.config/... when unset,
    // empty or relative (a relative one would depend on the working directory).
    static QString defaultPath();

    explicit SettingsFile(QString path = defaultPath());

    const QString& path() const;

    // The number under "BrimwellTicker.UpdateInterval": any double its text reads as
    // (negative, infinite and NaN included; bounds are the caller's business), or 60 when
    // the key is absent, holds no number or the file cannot be read. Never writes.
    double updateInterval() const;

    // The byte-string value under `key`; nullopt when absent, of another kind (a plain
    // string, a list, a number ...) or when the file cannot be read.
    std::optional<QByteArray> readData(const QString& key) const;

    // Replaces the value under `key` with a byte string, keeping every other key. Returns
    // false when it could not; the file on disk is then exactly what it was before. A
    // missing directory is made with the umask's permissions.
    [[nodiscard]] bool writeData(const QString& key, const QByteArray& value);

private:
    // Every key of the file; an empty map when there is no file, nullopt when it exists
    // but cannot be read.
    std::optional<QVariantMap> readAll() const;

    QString path_;
};
