// The settings file under the worst a store can meet: a kill -9 at any moment, another
// process storing at the same time, a disk that fills up, a directory or a mount that
// refuses writes. Afterwards the file always parses and holds either the old or the new
// complete record, every other key is kept, and nothing is created wider than the umask
// allows.

#include "bitcoin_price_printer.h"
#include "child_process.h"
#include "fetch/atomic_file_writer.h"
#include "fetch/last_price_cache.h"
#include "fetch/settings_file.h"
#include "scoped_umask.h"
#include "temp_dir.h"
#include "test_files.h"
#include "tmpfs_mount.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <optional>
#include <poll.h>
#include <pwd.h>
#include <random>
#include <signal.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;
namespace fs = std::filesystem;
using test_files::modeOf;
using test_files::namesIn;
using test_files::qPath;

const BitcoinPrice::Clock::time_point newYear2025{sys_days{2025y / 1 / 1}.time_since_epoch()};

// The record that the store loop writes as its number `n`.
BitcoinPrice loopRecord(long long n, const std::string& source) {
    return {static_cast<double>(n), newYear2025 + seconds(n), source};
}

int fromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

// A run of the store loop helper with its stdout on a pipe; the numbers of the records
// whose store had returned are read once it has ended.
class StoreLoop {
public:
    StoreLoop(const fs::path& file, const std::string& source, long long first,
              std::optional<long long> count, const fs::path& scratch)
        : pipe_(makePipe()), child_(start(file, source, first, count, scratch, pipe_[1])) {
        ::close(pipe_[1]);
    }
    ~StoreLoop() { ::close(pipe_[0]); }
    StoreLoop(const StoreLoop&) = delete;
    StoreLoop& operator=(const StoreLoop&) = delete;

    ChildProcess& process() { return child_; }

    // Waits until the helper has reported its first store; false if it has not after
    // `timeout` or has ended.
    bool waitForFirstStore(std::chrono::milliseconds timeout) {
        const auto deadline = steady_clock::now() + timeout;
        while (text_.find('\n') == std::string::npos) {
            const auto left = duration_cast<milliseconds>(deadline - steady_clock::now());
            pollfd readable{pipe_[0], POLLIN, 0};
            if (left.count() <= 0 || ::poll(&readable, 1, static_cast<int>(left.count())) <= 0 ||
                !readSome()) {
                return false;
            }
        }
        return true;
    }

    // Everything the helper reported, once it has ended.
    std::vector<long long> stored() {
        while (readSome()) {
        }
        std::vector<long long> numbers;
        std::size_t at = 0;
        for (std::size_t end; (end = text_.find('\n', at)) != std::string::npos; at = end + 1) {
            numbers.push_back(std::stoll(text_.substr(at, end - at)));
        }
        return numbers;
    }

private:
    static std::array<int, 2> makePipe() {
        std::array<int, 2> fds{};
        if (::pipe2(fds.data(), O_CLOEXEC) != 0) {
            throw std::runtime_error("pipe failed");
        }
        return fds;
    }

    static ChildProcess::Start start(const fs::path& file, const std::string& source,
                                     long long first, std::optional<long long> count,
                                     const fs::path& scratch, int output) {
        ChildProcess::Start start;
        start.arguments = {CACHE_STORE_LOOP, file.string(), source, std::to_string(first)};
        if (count) {
            start.arguments.push_back(std::to_string(*count));
        }
        // Where the helper's own temporary files go, so that the test sees what is left.
        start.environment["TMPDIR"] = scratch.string();
        start.standardOutput = output;
        start.standardError = STDERR_FILENO;
        return start;
    }

    bool readSome() {
        char buffer[4096];
        const ssize_t got = ::read(pipe_[0], buffer, sizeof buffer);
        if (got <= 0) {
            return false;
        }
        text_.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    std::array<int, 2> pipe_;
    ChildProcess child_;
    std::string text_;
};

class StoreLoopTest : public testing::Test {
protected:
    void SetUp() override { fs::create_directories(scratch); }

    // A file with record 0 and a key of someone else's.
    void writeFirstFile() {
        LastPriceCache(SettingsFile(qPath(file))).store(loopRecord(0, "first"));
        ASSERT_TRUE(SettingsFile(qPath(file)).writeData("Someone.Else", "kept"));
    }

    std::optional<BitcoinPrice> restore() const {
        return LastPriceCache(SettingsFile(qPath(file))).restore();
    }

    bool otherKeyKept() const {
        return SettingsFile(qPath(file)).readData("Someone.Else") == QByteArray("kept");
    }

    // Scratch files a store left beside the settings file.
    std::vector<std::string> leftovers() const {
        std::vector<std::string> names = namesIn(file.parent_path());
        std::erase(names, file.filename().string());
        return names;
    }

    TempDir home;
    fs::path file = home.path() / "config/brimwell-ticker/brimwell-ticker.conf";
    fs::path scratch = home.path() / "tmp";
};

// A store killed at a random moment: while it reads the file, writes or syncs the new
// one, between the rename and its report, or between two stores.
TEST_F(StoreLoopTest, aKillAtAnyMomentLeavesTheOldOrTheNewRecord) {
    const int kills = fromEnvironment("BRIMWELL_DURABILITY_KILLS", 100);
    const unsigned seed = std::random_device()();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> delayUs(0, 20'000);

    // The directory and the file are made by the helper, under a narrow umask.
    const ScopedUmask umask(027);
    {
        StoreLoop first(file, "loop", 0, 1, scratch);
        const auto status = first.process().wait(10s);
        ASSERT_TRUE(status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
    }
    ASSERT_EQ(restore(), loopRecord(0, "loop"));
    ASSERT_TRUE(SettingsFile(qPath(file)).writeData("Someone.Else", "kept"));

    long long inFile = 0; // the record the file holds
    int old = 0;
    int fresh = 0;
    for (int kill = 0; kill < kills; ++kill) {
        StoreLoop loop(file, "loop", inFile + 1, std::nullopt, scratch);
        // Counted from a store that has been made, so that every kill meets the loop at
        // work rather than the program starting.
        ASSERT_TRUE(loop.waitForFirstStore(10s));
        std::this_thread::sleep_for(microseconds(delayUs(random)));
        loop.process().signal(SIGKILL);
        const auto status = loop.process().wait(10s);
        ASSERT_TRUE(status);
        ASSERT_TRUE(WIFSIGNALED(*status)) << "the helper ended on its own: " << *status;

        // Reported stores are consecutive from where the file stood.
        const std::vector<long long> stored = loop.stored();
        for (std::size_t i = 0; i < stored.size(); ++i) {
            ASSERT_EQ(stored[i], inFile + 1 + static_cast<long long>(i));
        }
        const long long reported = stored.empty() ? inFile : stored.back();

        const auto record = restore();
        ASSERT_TRUE(record) << "after kill " << kill << " the file holds no record:\n"
                            << test_files::read(file);
        const auto n = static_cast<long long>(record->usd);
        ASSERT_TRUE(n == reported || n == reported + 1)
            << "kill " << kill << ": the file holds record " << n << ", the last reported was "
            << reported;
        // Complete: every member from the same store.
        ASSERT_EQ(*record, loopRecord(n, "loop"));
        ASSERT_TRUE(otherKeyKept());
        (n == reported ? old : fresh) += 1;
        inFile = n;
    }
    EXPECT_EQ(modeOf(file.parent_path()), 0750u);
    EXPECT_EQ(modeOf(file), 0640u);
    for (const std::string& name : leftovers()) {
        EXPECT_EQ(modeOf(file.parent_path() / name) & ~0640u, 0u) << name;
    }
    // What the kills left beside the file goes with the next store, once it is old.
    const std::size_t leftBehind = leftovers().size();
    for (const std::string& name : leftovers()) {
        fs::last_write_time(file.parent_path() / name, fs::file_time_type::clock::now() -
                                                           AtomicFileWriter::staleScratchAge -
                                                           minutes(1));
    }
    LastPriceCache(SettingsFile(qPath(file))).store(loopRecord(inFile + 1, "loop"));
    EXPECT_EQ(restore(), loopRecord(inFile + 1, "loop"));
    EXPECT_EQ(leftovers(), std::vector<std::string>{});

    std::printf("%d kills: the file held the last reported record %d times and the one after "
                "it %d times; %zu scratch files beside it, %zu entries in the temporary "
                "directory; %lld records stored in all\n",
                kills, old, fresh, leftBehind,
                static_cast<std::size_t>(
                    std::distance(fs::directory_iterator(scratch), fs::directory_iterator())),
                inFile);
}

// Two processes storing at once while a third reads: every read finds a complete record of
// one of them, and the last store of one of them wins.
TEST_F(StoreLoopTest, twoProcessesStoringAtOnceLeaveOneCompleteRecord) {
    writeFirstFile();
    constexpr long long stores = 200;
    StoreLoop first(file, "first", 1, stores, scratch);
    StoreLoop second(file, "second", 1, stores, scratch);
    int reads = 0;
    while (first.process().running() || second.process().running()) {
        const auto record = restore();
        ASSERT_TRUE(record) << "read " << reads << " found no record:\n" << test_files::read(file);
        const auto n = static_cast<long long>(record->usd);
        ASSERT_TRUE(*record == loopRecord(n, "first") || *record == loopRecord(n, "second"))
            << testing::PrintToString(*record);
        ASSERT_TRUE(otherKeyKept());
        ++reads;
        first.process().wait(0ms);
        second.process().wait(0ms);
    }
    for (StoreLoop* loop : {&first, &second}) {
        const auto status = loop->process().wait(10s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << *status;
        EXPECT_EQ(loop->stored().size(), static_cast<std::size_t>(stores));
    }
    const auto last = restore();
    ASSERT_TRUE(last);
    EXPECT_TRUE(*last == loopRecord(stores, "first") || *last == loopRecord(stores, "second"))
        << testing::PrintToString(*last);
    EXPECT_TRUE(otherKeyKept());
    EXPECT_EQ(leftovers(), std::vector<std::string>{});
    std::printf("%d reads while two processes stored %lld records each\n", reads, stores);
}

// A good file is in place, then a store meets a disk or a directory that refuses it. The
// file must stay byte for byte what it was, still readable, with nothing left beside it.
class RefusedStoreTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fs::create_directories(mountPoint));
        file = mountPoint / "brimwell-ticker/brimwell-ticker.conf";
    }

    // The good file: a record and a key of someone else's.
    void writeGoodFile() {
        SettingsFile settings(qPath(file));
        ASSERT_TRUE(settings.writeData("Someone.Else", "30"));
        LastPriceCache(settings).store(good);
        ASSERT_EQ(LastPriceCache(settings).restore(), good);
        goodBytes = test_files::read(file);
        ASSERT_FALSE(goodBytes.empty());
    }

    // Tries both kinds of store; true if both were refused (the cache's store is silent,
    // so only the file can tell).
    bool storesAreRefused() const {
        SettingsFile settings(qPath(file));
        const bool refused = !settings.writeData("k", "v");
        LastPriceCache(settings).store({1, newYear2025, "kraken"});
        return refused;
    }

    void expectGoodFileIntact() {
        EXPECT_EQ(test_files::read(file), goodBytes);
        EXPECT_EQ(LastPriceCache(SettingsFile(qPath(file))).restore(), good);
        EXPECT_EQ(SettingsFile(qPath(file)).readData("Someone.Else"), QByteArray("30"));
        EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"brimwell-ticker.conf"});
    }

    TempDir home;
    fs::path mountPoint = home.path() / "disk";
    fs::path file;
    const BitcoinPrice good{67250.5, newYear2025, "coinbase"};
    std::string goodBytes;
};

// Runs `check` as an ordinary user: root writes into a read-only directory anyway, so as
// root it runs in a child that has given up root for the "nobody" account.
bool asOrdinaryUser(const std::function<bool()>& check, const std::vector<fs::path>& owned) {
    if (::geteuid() != 0) {
        return check();
    }
    const passwd* nobody = ::getpwnam("nobody");
    const uid_t uid = nobody ? nobody->pw_uid : 65534;
    const gid_t gid = nobody ? nobody->pw_gid : 65534;
    for (const fs::path& path : owned) {
        if (::lchown(path.c_str(), uid, gid) != 0) {
            ADD_FAILURE() << "cannot hand " << path << " to the ordinary user";
            return false;
        }
    }
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 && ::setgid(gid) == 0 &&
                             ::setuid(uid) == 0 && ::geteuid() != 0;
        ::_exit(!dropped ? 3 : check() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child) {
        ADD_FAILURE() << "cannot run the ordinary user's child";
        return false;
    }
    EXPECT_NE(WEXITSTATUS(status), 3) << "the child could not give up root";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(RefusedStoreTest, aReadOnlyDirectoryLeavesTheFileIntact) {
    writeGoodFile();
    const fs::path directory = file.parent_path();
    // The way down must stay open to the ordinary user.
    fs::permissions(home.path(),
                    fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    fs::permissions(directory, fs::perms::owner_read | fs::perms::owner_exec);
    const bool refused =
        asOrdinaryUser([&] { return ::access(directory.c_str(), W_OK) != 0 && storesAreRefused(); },
                       {mountPoint, directory, file});
    fs::permissions(directory, fs::perms::owner_all);
    EXPECT_TRUE(refused);
    expectGoodFileIntact();
}

TEST_F(RefusedStoreTest, aReadOnlyMountLeavesTheFileIntact) {
    TmpfsMount disk(mountPoint, 256 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << disk.why();
    }
    writeGoodFile();
    ASSERT_TRUE(disk.remountReadOnly());
    EXPECT_TRUE(storesAreRefused());
    expectGoodFileIntact();
}

TEST_F(RefusedStoreTest, aFullDiskLeavesTheFileIntact) {
    TmpfsMount disk(mountPoint, 256 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << disk.why();
    }
    writeGoodFile();
    const fs::path filler = mountPoint / "filler";
    ASSERT_TRUE(disk.fill(filler));
    EXPECT_TRUE(storesAreRefused());
    fs::remove(filler);
    expectGoodFileIntact();
}

// Room for a page: the new content starts to be written and runs out part way, which is
// where a careless writer would leave a truncated file.
TEST_F(RefusedStoreTest, aDiskThatFillsUpPartWayLeavesTheFileIntact) {
    TmpfsMount disk(mountPoint, 256 * 1024);
    if (!disk.mounted()) {
        GTEST_SKIP() << disk.why();
    }
    writeGoodFile();
    const fs::path filler = mountPoint / "filler";
    ASSERT_TRUE(disk.fill(filler, 4096));

    SettingsFile settings(qPath(file));
    const std::string longSource(64 * 1024, 's');
    EXPECT_FALSE(settings.writeData("k", QByteArray(20 * 1024, 'v')));
    LastPriceCache(settings).store({1, newYear2025, longSource});
    fs::remove(filler);
    expectGoodFileIntact();

    // With room again the same store goes through.
    LastPriceCache(settings).store({1, newYear2025, longSource});
    EXPECT_EQ(LastPriceCache(settings).restore(), (BitcoinPrice{1, newYear2025, longSource}));
    EXPECT_EQ(settings.readData("Someone.Else"), QByteArray("30"));
}

} // namespace
