#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// A small tmpfs mounted on an existing directory for the life of the object, to give a
// test a disk that really fills up or really is read-only. Mounting needs privileges;
// without them `mounted()` is false and `why()` says what failed.
class TmpfsMount {
public:
    TmpfsMount(std::filesystem::path where, std::size_t bytes);
    ~TmpfsMount();
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& why() const { return why_; }

    // Makes the mount read-only, for everyone including root.
    bool remountReadOnly();

    // Writes `filler` until the file system refuses more, then gives back `spare` bytes
    // (rounded by the file system to whole pages). Returns false on any other error.
    bool fill(const std::filesystem::path& filler, std::size_t spare = 0) const;

private:
    std::filesystem::path where_;
    std::string options_;
    bool mounted_ = false;
    std::string why_;
};
