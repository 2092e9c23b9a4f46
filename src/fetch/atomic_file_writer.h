#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>

// Replaces a file's whole content so that the path always holds either the complete old
// content or the complete new one, also on a full disk, a read-only directory or with
// other processes replacing the same file at the same time.
class AtomicFileWriter {
public:
    // Writes `content` to a new file beside `path`, syncs it and checks it on disk, gives it
    // the mode of the file it replaces (a new file gets the umask's) and renames it over
    // `path`. A symbolic link at `path` is followed, so the link stays a link.
    // Returns false, leaving `path` untouched and no new file behind, when any step fails.
    // After a write it removes the scratch files of earlier writes to `path` that were
    // killed before they could clean up, once they are `staleScratchAge` old.
    [[nodiscard]] static bool write(const QString& path, const QByteArray& content);

    static constexpr std::chrono::minutes staleScratchAge{10};
};
