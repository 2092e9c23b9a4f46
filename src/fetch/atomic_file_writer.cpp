#include "atomic_file_writer.h"

#include <QFile>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The scratch file of a write beside `target`: "." + the file's name + "." + a random
// number + ".tmp".
std::string scratchPrefix(const std::string& baseName) {
    return "." + baseName + ".";
}
const char* const scratchSuffix = ".tmp";

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

    // What the file system now holds is exactly `content`: a file system that accepts a
    // write and keeps less is caught here.
    bool holds(const QByteArray& content) const {
        struct stat status {};
        if (::fstat(fd_, &status) != 0 || status.st_size != content.size()) {
            return false;
        }
        QByteArray back(content.size(), '\0');
        qsizetype offset = 0;
        while (offset < back.size()) {
            const ssize_t got = ::pread(fd_, back.data() + offset,
                                        static_cast<std::size_t>(back.size() - offset), offset);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            offset += got;
        }
        return back == content;
    }

    bool sync() const { return ::fsync(fd_) == 0; }
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

bool AtomicFileWriter::write(const QString& path, const QByteArray& content) {
    const std::string target = resolvedTarget(path);

    struct stat existing {};
    bool replacing = false;
    if (::stat(target.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) {
            return false;
        }
        replacing = true;
    } else if (errno != ENOENT) {
        return false;
    }

    ScratchFile scratch;
    if (!scratch.create(target) || !scratch.writeAll(content) ||
        (replacing && !scratch.setMode(existing.st_mode & 07777)) || !scratch.sync() ||
        !scratch.holds(content) || !scratch.close() || !scratch.renameTo(target)) {
        return false;
    }

    // The directory is not synced: a rename lost to a power cut leaves the complete old
    // content in place, and every store would wait for a second flush of the disk.
    removeStaleScratchFiles(target);
    return true;
}
