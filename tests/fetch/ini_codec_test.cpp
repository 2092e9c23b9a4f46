#include "fetch/ini_codec.h"
#include "scoped_environment.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// Counts the entries created directly in one directory while it lives.
class CreationWatch {
public:
    explicit CreationWatch(const fs::path& directory)
        : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        ::inotify_add_watch(fd_, directory.c_str(), IN_CREATE);
    }
    ~CreationWatch() { ::close(fd_); }
    CreationWatch(const CreationWatch&) = delete;
    CreationWatch& operator=(const CreationWatch&) = delete;

    int created() {
        alignas(inotify_event) std::array<char, 4096> buffer;
        int count = 0;
        ssize_t got;
        while ((got = ::read(fd_, buffer.data(), buffer.size())) > 0) {
            for (char* at = buffer.data(); at < buffer.data() + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                count += (event->mask & IN_CREATE) != 0;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return count;
    }

private:
    int fd_;
};

const QVariantMap values{{"BrimwellTicker.LastPrice", QByteArray(R"({"usd":67432.49})")},
                         {"BrimwellTicker.UpdateInterval", "60"}};

void expectRoundTrip() {
    const auto text = IniCodec::serialize(values);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(IniCodec::parse(*text), values);
}

// Scratch files go to the runtime directory, which sessions keep in memory, and are
// gone afterwards.
TEST(IniCodecTest, worksInTheRuntimeDirectoryAndLeavesNothingThere) {
    TempDir runtime;
    const ScopedEnvironment environment("XDG_RUNTIME_DIR", runtime.path().string());
    CreationWatch watch(runtime.path());
    expectRoundTrip();
    EXPECT_GE(watch.created(), 2); // a scratch directory for each direction
    EXPECT_TRUE(fs::is_empty(runtime.path()));
}

// Without a usable runtime directory the system's temporary directory serves.
TEST(IniCodecTest, worksWithoutAUsableRuntimeDirectory) {
    TempDir home;
    const fs::path notADirectory = home.path() / "file";
    std::ofstream(notADirectory) << "x";
    const std::array<std::optional<std::string>, 4> runtimes = {
        std::nullopt, std::string(), std::string("relative/runtime"), notADirectory.string()};
    for (const auto& runtime : runtimes) {
        SCOPED_TRACE(runtime.value_or("(unset)"));
        const ScopedEnvironment environment("XDG_RUNTIME_DIR", runtime);
        expectRoundTrip();
    }
    EXPECT_FALSE(fs::exists("relative"));
}

} // namespace
