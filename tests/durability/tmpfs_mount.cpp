#include "tmpfs_mount.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <unistd.h>
#include <utility>
#include <vector>

TmpfsMount::TmpfsMount(std::filesystem::path where, std::size_t bytes)
    : where_(std::move(where)), options_("size=" + std::to_string(bytes) + ",mode=0755") {
    if (::mount("tmpfs", where_.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options_.c_str()) == 0) {
        mounted_ = true;
    } else {
        why_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
}

TmpfsMount::~TmpfsMount() {
    if (mounted_) {
        ::umount2(where_.c_str(), MNT_DETACH);
    }
}

bool TmpfsMount::remountReadOnly() {
    return ::mount("tmpfs", where_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY | MS_NOSUID | MS_NODEV,
                   options_.c_str()) == 0;
}

bool TmpfsMount::fill(const std::filesystem::path& filler, std::size_t spare) const {
    const int fd = ::open(filler.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    const std::vector<char> block(4096, 'x');
    off_t size = 0;
    bool full = false;
    while (!full) {
        const ssize_t written = ::write(fd, block.data(), block.size());
        if (written > 0) {
            size += written;
        } else if (written < 0 && errno == ENOSPC) {
            full = true;
        } else if (!(written < 0 && errno == EINTR)) {
            ::close(fd);
            return false;
        }
    }
    const auto kept = std::max<off_t>(0, size - static_cast<off_t>(spare));
    const bool ok = ::ftruncate(fd, kept) == 0;
    return ::close(fd) == 0 && ok;
}
