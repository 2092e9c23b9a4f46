#pragma once

#include "price/currency.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <vector>

// $VARIABLE (an XDG base directory) + "/brimwell-ticker/" + `name`; ~/`fallback` instead of
// $VARIABLE when it is unset, empty or relative (a relative one would depend on the
// working directory).
QString userFile(const char* variable, const char* fallback, const char* name);

// The user's settings: one INI file in the form QSettings writes, with values under keys
// such as "BrimwellTicker.UpdateInterval" in its [General] group. Every call reads or
// writes the file afresh, so edits from outside and stores of other processes are seen.
//
// Only a regular file of at most `maxFileBytes` is read, opened without waiting (a FIFO or
// a device in its place gives the defaults and one log line). A store changes the one line
// it writes and keeps every other line, comments included, byte for byte; it writes only
// into a file whose every line it understands (else one log line and no write), never
// into a file without the owner's write permission, needs no directory but the file's
// own, and never replaces a file that changed after it was read (it reads it again and
// changes its line in the new content). Each problem is logged once a run.
class SettingsFile {
public:
    static constexpr const char* updateIntervalKey = "BrimwellTicker.UpdateInterval";
    static constexpr double defaultUpdateInterval = 60;
    static constexpr const char* currencyKey = "BrimwellTicker.Currency";
    static constexpr qint64 maxFileBytes = 1 << 20;
    // How often a store reads the file again when it was saved by someone else while the
    // store wrote, before it gives up for this time.
    static constexpr int maxStoreAttempts = 5;

    // $XDG_CONFIG_HOME/brimwell-ticker/brimwell-ticker.conf, ~/.config/... by default.
    static QString defaultPath();

    explicit SettingsFile(QString path = defaultPath());

    const QString& path() const { return path_; }

    // The value under `key` in [General], as QSettings reads it: a QString for text
    // (numbers included), a QByteArray for a byte string, a QStringList for a list, an
    // invalid QVariant for any other form. nullopt when absent or the file cannot be read.
    std::optional<QVariant> value(const QString& key) const;

    // The values under `keys`, in their order, from one reading of the file, each with the
    // text it stands as in the file (after "=", trimmed), for messages that quote what the
    // user wrote.
    struct Entry {
        QVariant value;
        QString text;
    };
    std::vector<std::optional<Entry>> entries(const QStringList& keys) const;

    // The number that the text under `key` reads as (C locale; negative, infinite and NaN
    // included: bounds are the caller's business); nullopt when absent or not a number.
    std::optional<double> number(const QString& key) const;

    // The number under "BrimwellTicker.UpdateInterval", or 60. Never writes.
    double updateInterval() const;

    // The currency whose code is under "BrimwellTicker.Currency", or US dollars: when it is
    // absent or empty, and when it is no currency's code ("eur" is not), which is logged
    // once a run. Never writes.
    Currency currency() const;

    // The byte string under `key`; nullopt when absent, of another kind or unreadable.
    std::optional<QByteArray> readData(const QString& key) const;

    // Sets `key` in [General] to a byte string. Returns false when it did not; the file is
    // then exactly what it was before (or what another program saved meanwhile).
    [[nodiscard]] bool writeData(const QString& key, const QByteArray& value);

private:
    QString path_;
};
