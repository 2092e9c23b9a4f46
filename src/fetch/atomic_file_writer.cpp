#include "atomic_file_writer.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

// The scratch file of a write beside `target`: "." + the file's name + "." + a random
// number + ".tmp".
std::string scratchPrefix(const std::string& baseName) {
    return "." + baseName + ".";
}
const char* const scratchSuffix = ".tmp";

// The version of the file at `path` (following a link unless `link`); one that is not
// there is a version too. nullopt when it cannot be told.
std::optional<FileVersion> versionAt(const std::string& path, bool link = false) {
    struct stat status {};
    if ((link ? ::lstat(path.c_str(), &status) : ::stat(path.c_str(), &status)) == 0) {
        return FileVersion::of(status);
    }
    return errno == ENOENT ? std::optional(FileVersion{}) : std::nullopt;
}

// Closes the scratch file and removes it unless it was renamed into place.
class ScratchFile {
public:
    ScratchFile() = default;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    // Keeps errno as the failed step left it, for the caller's message.
    ~ScratchFile() {
        const int saved = errno;
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (!path_.empty() && !kept_) {
            ::unlink(path_.c_str());
        }
        errno = saved;
    }

    // A new file beside `target`, created with mode 0666 so that the umask (and a default
    // ACL of the directory) decides, as for any file the user makes.
    bool create(const std::string& target) {
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string candidate = dirName(target) + "/" + scratchPrefix(baseName(target)) +
                                          std::to_string(QRandomGenerator::system()->generate64()) +
                                          scratchSuffix;
            const int fd =
                ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
            if (fd >= 0) {
                fd_ = fd;
                path_ = candidate;
                return true;
            }
            if (errno != EEXIST && errno != EINTR) {
                return false;
            }
        }
        return false;
    }

    bool writeAll(const QByteArray& content) const {
        const char* data = content.constData();
        auto left = static_cast<std::size_t>(content.size());
        while (left > 0) {
            const ssize_t written = ::write(fd_, data, left);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            data += written;
            left -= static_cast<std::size_t>(written);
        }
        return true;
    }

    bool sync() {
        struct stat status {};
        inode_ = ::fstat(fd_, &status) == 0 ? status.st_ino : 0;
        return ::fsync(fd_) == 0;
    }
    bool setMode(mode_t mode) const { return ::fchmod(fd_, mode) == 0; }

    // Close reports delayed write errors on some file systems.
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
    }

    bool renameTo(const std::string& target) {
        if (::rename(path_.c_str(), target.c_str()) != 0) {
            return false;
        }
        kept_ = true;
        return true;
    }

    // Puts the file in `target`'s place only while `target` still is `expected`. Linux
    // cannot make that one step, so it comes near: a save that lands while this file is
    // synced is seen before, and one that lands in the last moment is found afterwards,
    // in the file this one was exchanged with, and put back.
    AtomicFileWriter::Result replace(const std::string& target, const FileVersion& expected) {
        using Result = AtomicFileWriter::Result;
        // A save that waited for the same flush of the disk as this file's sync lands a
        // moment after it: wait that moment, so that the look below sees it.
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto now = versionAt(target);
        if (!now || *now != expected) {
            return now ? Result::fileChanged : Result::failed;
        }
        const auto exchange = [&] {
            return ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(),
                               RENAME_EXCHANGE) == 0;
        };
        if (!expected.exists ? ::renameat2(AT_FDCWD, path_.c_str(), AT_FDCWD, target.c_str(),
                                           RENAME_NOREPLACE) != 0
                             : !exchange()) {
            if (errno == EEXIST || errno == ENOENT) {
                return Result::fileChanged; // made, or removed, in the last moment
            }
            // A file system that cannot exchange two files: the look above has to do.
            const bool unsupported = errno == EINVAL || errno == ENOSYS;
            return unsupported && renameTo(target) ? Result::written : Result::failed;
        }
        kept_ = true;
        if (!expected.exists) {
            return Result::written;
        }
        // This name now holds the file that was replaced.
        if (versionAt(path_, true) == expected) {
            ::unlink(path_.c_str());
            return Result::written;
        }
        // Saved in the last moment: theirs goes back. Should yet another save have come
        // meanwhile, that newer one is put back instead, and their earlier one goes.
        struct stat back {};
        if (exchange() && ::lstat(path_.c_str(), &back) == 0 && back.st_ino != inode_) {
            exchange();
        }
        ::unlink(path_.c_str());
        return Result::fileChanged;
    }

    static std::string dirName(const std::string& path) {
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) {
            return ".";
        }
        return slash == 0 ? "/" : path.substr(0, slash);
    }

    static std::string baseName(const std::string& path) {
        const auto slash = path.rfind('/');
        return slash == std::string::npos ? path : path.substr(slash + 1);
    }

private:
    int fd_ = -1;
    ino_t inode_ = 0;
    std::string path_;
    bool kept_ = false;
};

// The file the content goes to: the end of a chain of symbolic links, so that a linked
// settings file (a dotfiles checkout, say) is updated where it lives.
std::string resolvedTarget(QString path) {
    for (int hop = 0; hop < 40; ++hop) { // the kernel's own limit on a chain
        const QString next = QFile::symLinkTarget(path);
        if (next.isEmpty()) {
            break;
        }
        path = next;
    }
    return QFile::encodeName(path).toStdString();
}

// Removes the scratch files that writes to `target` left behind when the process was
// killed between creating and renaming them; they would pile up in the directory for
// ever. A write in progress keeps its file for milliseconds, so only old ones go.
void removeStaleScratchFiles(const std::string& target) {
    const std::string directory = ScratchFile::dirName(target);
    const std::string prefix = scratchPrefix(ScratchFile::baseName(target));
    const std::string suffix = scratchSuffix;
    DIR* listing = ::opendir(directory.c_str());
    if (!listing) {
        return;
    }
    const auto now = std::chrono::system_clock::now();
    while (const dirent* entry = ::readdir(listing)) {
        const std::string_view name = entry->d_name;
        if (!name.starts_with(prefix) || !name.ends_with(suffix) ||
            name.size() == prefix.size() + suffix.size()) {
            continue;
        }
        const std::string_view number =
            name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
        if (!std::all_of(number.begin(), number.end(),
                         [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        struct stat status {};
        if (::fstatat(::dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
            continue;
        }
        const auto modified =
            std::chrono::system_clock::time_point(std::chrono::seconds(status.st_mtim.tv_sec));
        if (now - modified > AtomicFileWriter::staleScratchAge) {
            ::unlinkat(::dirfd(listing), entry->d_name, 0);
        }
    }
    ::closedir(listing);
}

} // namespace

FileVersion FileVersion::of(const struct stat& status) {
    const auto nanoseconds = [](const timespec& time) {
        return std::int64_t{time.tv_sec} * 1'000'000'000 + time.tv_nsec;
    };
    return {true, std::uint64_t(status.st_dev), std::uint64_t(status.st_ino),
            std::int64_t(status.st_size), nanoseconds(status.st_mtim)};
}

AtomicFileWriter::Result AtomicFileWriter::write(const QString& path, const QByteArray& content,
                                                 const std::optional<FileVersion>& expected) {
    const std::string target = resolvedTarget(path);
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if ((!exists && errno != ENOENT) || (exists && !S_ISREG(existing.st_mode))) {
        return Result::failed;
    }
    if (expected && (exists ? FileVersion::of(existing) : FileVersion{}) != *expected) {
        return Result::fileChanged;
    }

    ScratchFile scratch;
    if (!scratch.create(target) || !scratch.writeAll(content) ||
        (exists && !scratch.setMode(existing.st_mode & 07777)) || !scratch.sync() ||
        !scratch.close()) {
        return Result::failed;
    }
    if (expected) {
        if (const Result replaced = scratch.replace(target, *expected);
            replaced != Result::written) {
            return replaced;
        }
    } else if (!scratch.renameTo(target)) {
        return Result::failed;
    }

    // The directory is not synced: a rename lost to a power cut leaves the complete old
    // content in place, and every store would wait for a second flush of the disk.
    removeStaleScratchFiles(target);
    return Result::written;
}
