#include "fetch/atomic_file_writer.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QString qPath(const fs::path& path) {
    return QString::fromStdString(path.string());
}

TEST(AtomicFileWriterTest, replacesTheWholeContent) {
    const TempDir dir;
    const fs::path file = dir.path() / "f";
    const QByteArray contents[] = {QByteArray("first, longer content\n"), QByteArray("short"),
                                   QByteArray(), QByteArray("\0\xff\n", 3),
                                   QByteArray(300 * 1024, 'x')};
    for (const QByteArray& content : contents) {
        ASSERT_TRUE(AtomicFileWriter::write(qPath(file), content));
        EXPECT_EQ(readFile(file), content.toStdString());
        EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    }
}

TEST(AtomicFileWriterTest, refusesWhatIsNoPlaceForAFile) {
    const TempDir dir;
    fs::create_directories(dir.path() / "directory/inside");
    const fs::path cases[] = {
        dir.path() / "directory",         // a directory in the way
        dir.path() / "missing/f",         // no such directory
        dir.path() / "directory/inside/", // no file name
    };
    for (const fs::path& path : cases) {
        EXPECT_FALSE(AtomicFileWriter::write(qPath(path), "content")) << path;
    }
    EXPECT_TRUE(fs::is_empty(dir.path() / "directory/inside"));
    EXPECT_EQ(
        std::distance(fs::directory_iterator(dir.path() / "directory"), fs::directory_iterator()),
        1);
}

TEST(AtomicFileWriterTest, aDanglingLinkGetsItsFile) {
    const TempDir dir;
    fs::create_symlink("target", dir.path() / "link");
    ASSERT_TRUE(AtomicFileWriter::write(qPath(dir.path() / "link"), "content"));
    EXPECT_TRUE(fs::is_symlink(dir.path() / "link"));
    EXPECT_EQ(readFile(dir.path() / "target"), "content");
}

// A write killed between making its scratch file and renaming it leaves that file behind;
// the next write removes the ones old enough to be dead, and nothing else.
TEST(AtomicFileWriterTest, removesScratchFilesThatKilledWritesLeftBehind) {
    const TempDir dir;
    const auto now = fs::file_time_type::clock::now();
    const auto stale = now - AtomicFileWriter::staleScratchAge - std::chrono::minutes(1);
    const struct {
        const char* name;
        fs::file_time_type modified;
        bool removed;
    } cases[] = {
        {".f.conf.12345678901234567890.tmp", stale, true},
        {".f.conf.7.tmp", stale, true},
        {".f.conf.8.tmp", now, false}, // perhaps a write in progress
        {".f.conf.abc.tmp", stale, false},
        {".f.conf..tmp", stale, false},
        {".f.conf.9.tmp.bak", stale, false},
        {"f.conf.9.tmp", stale, false},
        {".g.conf.9.tmp", stale, false}, // another file's
    };
    for (const auto& row : cases) {
        std::ofstream(dir.path() / row.name) << "scratch";
        fs::last_write_time(dir.path() / row.name, row.modified);
    }
    fs::create_directory(dir.path() / ".f.conf.10.tmp");
    fs::last_write_time(dir.path() / ".f.conf.10.tmp", stale);

    ASSERT_TRUE(AtomicFileWriter::write(qPath(dir.path() / "f.conf"), "content"));
    for (const auto& row : cases) {
        EXPECT_EQ(fs::exists(dir.path() / row.name), !row.removed) << row.name;
    }
    EXPECT_TRUE(fs::is_directory(dir.path() / ".f.conf.10.tmp"));
    EXPECT_EQ(readFile(dir.path() / "f.conf"), "content");
}

} // namespace
