#pragma once

#include <QByteArray>
#include <QVariantMap>

#include <optional>

// QSettings' INI format to and from bytes. QSettings keeps every file it has parsed in a
// process-wide cache and trusts it while the file's size and modification time (to the
// millisecond) look unchanged, so a file replaced by a rename can read as its old content.
// Going through a scratch file whose path this process never used before sidesteps that.
class IniCodec {
public:
    // Every key with its value, as QSettings reads `text` (keys of groups as
    // "group/key"); nullopt when no scratch file could be made. Damaged lines are skipped
    // as QSettings skips them; a key that reads as empty is dropped.
    static std::optional<QVariantMap> parse(const QByteArray& text);

    // The text QSettings writes for `values`; nullopt when it could not write it.
    static std::optional<QByteArray> serialize(const QVariantMap& values);
};
