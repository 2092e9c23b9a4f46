#pragma once

#include <QByteArray>
#include <QString>

#include <chrono>
#include <cstdint>
#include <optional>

struct stat;

// One version of a file, as a reader saw it: which file it was, its size and when its
// content last changed. Another program that replaces or rewrites the file gives a
// different version.
struct FileVersion {
    bool exists = false;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;

    static FileVersion of(const struct stat& status);
    bool operator==(const FileVersion&) const = default;
};

// Replaces a file's whole content so that the path always holds either the complete old
// content or the complete new one, also on a full disk, a read-only directory or with
// other processes replacing the same file at the same time.
class AtomicFileWriter {
public:
    enum class Result {
        written,
        failed,      // errno says why; `path` is untouched
        fileChanged, // the file is no longer the version given; `path` is untouched
    };

    // Writes `content` to a new file beside `path`, syncs it, gives it the mode of the
    // file it replaces (a new file gets the umask's) and renames it over `path`. A
    // symbolic link at `path` is followed, so the link stays a link. With `expected`, the
    // file is replaced only while it still is that version, so that a change made
    // meanwhile by someone else is never overwritten.
    // Leaves no new file behind unless it was written. After a write it removes the
    // scratch files of earlier writes to `path` that were killed before they could clean
    // up, once they are `staleScratchAge` old.
    [[nodiscard]] static Result write(const QString& path, const QByteArray& content,
                                      const std::optional<FileVersion>& expected = std::nullopt);

    static constexpr std::chrono::minutes staleScratchAge{10};
};
