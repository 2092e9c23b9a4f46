#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// A broken invariant aborts: libFuzzer reports that as a crash and keeps the input.
inline void require(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

// `bytes` as the only file in a fresh directory, removed with all it holds afterwards, so
// that no input sees what an earlier one left there.
struct ScratchFile {
    std::string directory = std::filesystem::temp_directory_path() / "brimwell-fuzz-XXXXXX";
    std::string path;

    ScratchFile(const char* name, std::string_view bytes) {
        require(::mkdtemp(directory.data()) != nullptr, "mkdtemp failed");
        path = directory + "/" + name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
    }
    ~ScratchFile() { std::filesystem::remove_all(directory); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
};
