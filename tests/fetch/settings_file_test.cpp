#include "bitcoin_price_printer.h"
#include "fetch/last_price_cache.h"
#include "fetch/settings_file.h"
#include "scoped_environment.h"
#include "scoped_umask.h"
#include "temp_dir.h"
#include "test_files.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono;
namespace fs = std::filesystem;
using test_files::modeOf;
using test_files::namesIn;
using test_files::qPath;

const BitcoinPrice::Clock::time_point newYear2025{sys_days{2025y / 1 / 1}.time_since_epoch()};

TEST(SettingsFilePathTest, followsXdgConfigHome) {
    const struct {
        std::optional<std::string> xdgConfigHome;
        const char* expected;
    } cases[] = {
        {"/x/config", "/x/config/brimwell-ticker/brimwell-ticker.conf"},
        {std::nullopt, "/home/someone/.config/brimwell-ticker/brimwell-ticker.conf"},
        {"", "/home/someone/.config/brimwell-ticker/brimwell-ticker.conf"},
        {"relative/config", "/home/someone/.config/brimwell-ticker/brimwell-ticker.conf"},
    };
    const ScopedEnvironment home("HOME", "/home/someone");
    for (const auto& row : cases) {
        const ScopedEnvironment config("XDG_CONFIG_HOME", row.xdgConfigHome);
        EXPECT_EQ(SettingsFile::defaultPath().toStdString(), row.expected);
        EXPECT_EQ(SettingsFile().path().toStdString(), row.expected);
    }
}

class SettingsFileTest : public testing::Test {
protected:
    TempDir home;
    fs::path file = home.path() / "config/brimwell-ticker/brimwell-ticker.conf";
    SettingsFile settings{qPath(file)};
};

TEST_F(SettingsFileTest, updateIntervalIsTheStoredNumberOrSixty) {
    const struct {
        const char* text;
        double expected;
    } cases[] = {
        {"", 60},
        {"[General]\nother=1\n", 60},
        {"BrimwellTicker.UpdateInterval=30\n", 30},
        {"[General]\nBrimwellTicker.UpdateInterval=30\n", 30},
        {"BrimwellTicker.UpdateInterval = 2.5 \n", 2.5},
        {"BrimwellTicker.UpdateInterval=\"45\"\n", 45},
        {"BrimwellTicker.UpdateInterval=1e3\n", 1000},
        {"BrimwellTicker.UpdateInterval=-5\n", -5},
        {"BrimwellTicker.UpdateInterval=0\n", 0},
        {"BrimwellTicker.UpdateInterval=inf\n", INFINITY},
        {"BrimwellTicker.UpdateInterval=-inf\n", -INFINITY},
        {"BrimwellTicker.UpdateInterval=abc\n", 60},
        {"BrimwellTicker.UpdateInterval=30abc\n", 60},
        {"BrimwellTicker.UpdateInterval=\n", 60},
        {"BrimwellTicker.UpdateInterval=1e400\n", 60},
        {"BrimwellTicker.UpdateInterval=30, 40\n", 60},
        {"BrimwellTicker.UpdateInterval=2,5\n", 60},
        {"BrimwellTicker.UpdateInterval=@ByteArray(30)\n", 60},
        {"BrimwellTicker.UpdateInterval=true\n", 60},
        {"[BrimwellTicker]\nUpdateInterval=30\n", 60},
        {"brimwellticker.updateinterval=30\n", 60},
        {"[Other]\nBrimwellTicker.UpdateInterval=30\n", 60},
    };
    for (const auto& row : cases) {
        test_files::write(file, row.text);
        EXPECT_EQ(settings.updateInterval(), row.expected) << row.text;
    }
    test_files::write(file, "BrimwellTicker.UpdateInterval=nan\n");
    EXPECT_TRUE(std::isnan(settings.updateInterval()));
}

// The number's form is the same under every locale: a period, never a comma.
TEST_F(SettingsFileTest, updateIntervalIgnoresTheLocale) {
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    std::setlocale(LC_ALL, "de_DE.UTF-8");
    const QLocale previousDefault;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    test_files::write(file, "BrimwellTicker.UpdateInterval=2.5\n");
    const double period = settings.updateInterval();
    test_files::write(file, "BrimwellTicker.UpdateInterval=\"2,5\"\n");
    const double comma = settings.updateInterval();
    QLocale::setDefault(previousDefault);
    std::setlocale(LC_ALL, previous.c_str());
    EXPECT_EQ(period, 2.5);
    EXPECT_EQ(comma, 60);
}

TEST_F(SettingsFileTest, readingNeverWrites) {
    EXPECT_EQ(settings.updateInterval(), 60);
    EXPECT_EQ(settings.readData("BrimwellTicker.LastPrice"), std::nullopt);
    EXPECT_FALSE(fs::exists(file.parent_path())) << "no directory is made by reading";

    const std::string text = "; comment\nBrimwellTicker.UpdateInterval = 30\n";
    test_files::write(file, text);
    const auto modified = fs::last_write_time(file);
    EXPECT_EQ(settings.updateInterval(), 30);
    EXPECT_EQ(test_files::read(file), text);
    EXPECT_EQ(fs::last_write_time(file), modified);
    EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"brimwell-ticker.conf"});
}

TEST_F(SettingsFileTest, aFileThatCannotBeReadGivesDefaultsAndIsNotReplaced) {
    fs::create_directories(file); // a directory where the file should be
    EXPECT_EQ(settings.updateInterval(), 60);
    EXPECT_EQ(settings.readData("key"), std::nullopt);
    EXPECT_FALSE(settings.writeData("key", "value"));
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(namesIn(file.parent_path()), std::vector<std::string>{"brimwell-ticker.conf"});
}

TEST_F(SettingsFileTest, aFileWithoutReadPermissionGivesDefaultsAndIsNotReplaced) {
    const std::string text = "BrimwellTicker.UpdateInterval=30\nother=kept\n";
    test_files::write(file, text);
    fs::permissions(file, fs::perms::none);
    if (::access(file.c_str(), R_OK) == 0) {
        GTEST_SKIP() << "this user (root) reads a file whatever its permissions";
    }
    EXPECT_EQ(settings.updateInterval(), 60);
    EXPECT_FALSE(settings.writeData("key", "value"));
    fs::permissions(file, fs::perms::owner_read);
    EXPECT_EQ(test_files::read(file), text);
}

TEST_F(SettingsFileTest, readDataTakesOnlyByteStrings) {
    const struct {
        const char* text;
        std::optional<QByteArray> expected;
    } cases[] = {
        {"k=@ByteArray(abc)\n", QByteArray("abc")},
        {"k=\"@ByteArray(a, b)\"\n", QByteArray("a, b")},
        {"k=@ByteArray()\n", QByteArray("")},
        {"k=\"@ByteArray(\\0\\n\\xff)\"\n", QByteArray("\0\n\xff", 3)},
        {"k=abc\n", std::nullopt},
        {"k=\"abc\"\n", std::nullopt},
        {"k=67000\n", std::nullopt},
        {"k=a, b\n", std::nullopt},
        {"k=@Rect(1 2 3 4)\n", std::nullopt},
        {"other=@ByteArray(abc)\n", std::nullopt},
        {"[g]\nk=@ByteArray(abc)\n", std::nullopt},
    };
    for (const auto& row : cases) {
        test_files::write(file, row.text);
        EXPECT_EQ(settings.readData("k"), row.expected) << row.text;
    }
}

TEST_F(SettingsFileTest, writeDataMakesTheFileAndKeepsTheOtherKeys) {
    ASSERT_TRUE(settings.writeData("k", QByteArray("\0\n\xff\" ,;=[]", 11)));
    EXPECT_EQ(settings.readData("k"), QByteArray("\0\n\xff\" ,;=[]", 11));

    test_files::write(file, test_files::read(file) +
                                "BrimwellTicker.UpdateInterval=30\n[g]\nk=list, of, words\n");
    ASSERT_TRUE(settings.writeData("k", "second"));
    ASSERT_TRUE(settings.writeData("BrimwellTicker.LastPrice", "third"));
    EXPECT_EQ(settings.readData("k"), QByteArray("second"));
    EXPECT_EQ(settings.readData("BrimwellTicker.LastPrice"), QByteArray("third"));
    EXPECT_EQ(settings.updateInterval(), 30);
    EXPECT_EQ(test_files::read(file), "[General]\nBrimwellTicker.LastPrice=@ByteArray(third)\n"
                                      "BrimwellTicker.UpdateInterval=30\nk=@ByteArray(second)\n\n"
                                      "[g]\nk=list, of, words\n");
}

// QSettings would file these under another name (or none), so the value could not be
// read back under the key it was given.
TEST_F(SettingsFileTest, refusesKeysThatDoNotReadBack) {
    test_files::write(file, "other=1\n");
    for (const char* key : {"", "a//b", "/leading", "trailing/", "/"}) {
        EXPECT_FALSE(settings.writeData(key, "v")) << key;
    }
    EXPECT_EQ(test_files::read(file), "other=1\n");
    EXPECT_TRUE(settings.writeData("group/key", "v"));
    EXPECT_EQ(settings.readData("group/key"), QByteArray("v"));
}

// Values of the same length, on a file system whose times are coarser than the writes
// (or written within one millisecond): the file's size and time stay the same throughout.
TEST_F(SettingsFileTest, aReadSeesTheWriteBeforeIt) {
    const auto sameTime = fs::file_time_type::clock::now();
    for (int i = 0; i < 10; ++i) {
        const QByteArray value = QByteArray::number(1000 + i);
        ASSERT_TRUE(settings.writeData("k", value));
        fs::last_write_time(file, sameTime);
        ASSERT_EQ(settings.readData("k"), value) << i;
        ASSERT_EQ(SettingsFile(qPath(file)).readData("k"), value) << i;
    }
}

TEST_F(SettingsFileTest, newFilesAndDirectoriesFollowTheUmask) {
    const struct {
        mode_t umask;
        mode_t directory;
        mode_t file;
    } cases[] = {{022, 0755, 0644}, {027, 0750, 0640}, {077, 0700, 0600}, {002, 0775, 0664}};
    for (const auto& row : cases) {
        fs::remove_all(home.path() / "config");
        const ScopedUmask umask(row.umask);
        ASSERT_TRUE(settings.writeData("k", "v"));
        EXPECT_EQ(modeOf(home.path() / "config"), row.directory) << std::oct << row.umask;
        EXPECT_EQ(modeOf(file.parent_path()), row.directory) << std::oct << row.umask;
        EXPECT_EQ(modeOf(file), row.file) << std::oct << row.umask;
    }
}

TEST_F(SettingsFileTest, aReplacedFileKeepsItsMode) {
    const ScopedUmask umask(077);
    for (const mode_t mode : {0600, 0640, 0604, 0664, 0400}) {
        test_files::write(file, "other=1\n");
        ASSERT_EQ(::chmod(file.c_str(), mode), 0);
        ASSERT_EQ(::chmod(file.parent_path().c_str(), 0751), 0);
        ASSERT_TRUE(settings.writeData("k", "v"));
        EXPECT_EQ(modeOf(file), mode) << std::oct << mode;
        EXPECT_EQ(modeOf(file.parent_path()), 0751u);
        EXPECT_EQ(settings.readData("k"), QByteArray("v"));
    }
}

// A settings file linked from elsewhere (a dotfiles checkout, say) stays a link; the
// content goes to the file it points to.
TEST_F(SettingsFileTest, aLinkedFileStaysALink) {
    const fs::path real = home.path() / "dotfiles/brimwell.conf";
    test_files::write(real, "other=1\n");
    fs::create_directories(file.parent_path());
    fs::create_symlink("../../dotfiles/link.conf", file);
    fs::create_symlink("brimwell.conf", home.path() / "dotfiles/link.conf");

    ASSERT_TRUE(settings.writeData("k", "v"));
    EXPECT_TRUE(fs::is_symlink(file));
    EXPECT_TRUE(fs::is_symlink(home.path() / "dotfiles/link.conf"));
    EXPECT_EQ(test_files::read(real), "[General]\nk=@ByteArray(v)\nother=1\n");
    EXPECT_EQ(namesIn(home.path() / "dotfiles"),
              (std::vector<std::string>{"brimwell.conf", "link.conf"}));
}

} // namespace
