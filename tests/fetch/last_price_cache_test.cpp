#include "bitcoin_price_printer.h"
#include "fetch/last_price_cache.h"
#include "fetch/last_price_cache.h"
#include "fetch/settings_file.h"
#include "scoped_environment.h"
#include "temp_dir.h"

#include <QDateTime>
#include <QSettings>
#include <QStringList>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <string>

namespace {

using namespace std::chrono;
using namespace std::string_literals;
using TimePoint = BitcoinPrice::Clock::time_point;

const TimePoint newYear2025{sys_days{2025y / 1 / 1}.time_since_epoch()};

BitcoinPrice price(double usd, TimePoint timestamp, std::string source) {
    return {usd, timestamp, std::move(source)};
}

QByteArray bytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

TEST(LastPriceCacheTest, encodesOneCompactObjectWithTheThreeMembers) {
    const struct {
        BitcoinPrice price;
        const char* json;
    } cases[] = {
        {price(67250.5, newYear2025, "coinbase"),
         R"({"usd":67250.5,"timestamp":757382400,"source":"coinbase"})"},
        {price(67000, newYear2025 + 500ms, "kraken"),
         R"({"usd":67000,"timestamp":757382400.5,"source":"kraken"})"},
        {price(0.1, TimePoint{}, "mempool.space"),
         R"({"usd":0.1,"timestamp":-978307200,"source":"mempool.space"})"},
        {price(-0.0, newYear2025, ""), R"({"usd":-0.0,"timestamp":757382400,"source":""})"},
        {price(1e300, newYear2025, "a\"b\\c\n"),
         R"({"usd":1e+300,"timestamp":757382400,"source":"a\"b\\c\n"})"},
        {price(67000, newYear2025, "\xe2\x82\xbf"),
         "{\"usd\":67000,\"timestamp\":757382400,\"source\":\"\xe2\x82\xbf\"}"},
    };
    for (const auto& row : cases) {
        const auto encoded = LastPriceCache::encode(row.price);
        ASSERT_TRUE(encoded.has_value()) << row.json;
        EXPECT_EQ(encoded->toStdString(), row.json);
    }
}

TEST(LastPriceCacheTest, refusesToEncodeWhatJsonCannotHold) {
    const BitcoinPrice cases[] = {
        price(std::numeric_limits<double>::infinity(), newYear2025, "coinbase"),
        price(-std::numeric_limits<double>::infinity(), newYear2025, "coinbase"),
        price(std::numeric_limits<double>::quiet_NaN(), newYear2025, "coinbase"),
        price(67000, newYear2025, "co\xffinbase"), // not UTF-8
    };
    for (const auto& row : cases) {
        EXPECT_FALSE(LastPriceCache::encode(row).has_value()) << row.usd << " " << row.source;
    }
}

TEST(LastPriceCacheTest, decodesWhatTheRecordAllows) {
    const struct {
        const char* json;
        BitcoinPrice expected;
    } cases[] = {
        {R"({"usd":67250.5,"timestamp":757382400,"source":"coinbase"})",
         price(67250.5, newYear2025, "coinbase")},
        {R"({"source":"coinbase","timestamp":757382400,"usd":67250.5})",
         price(67250.5, newYear2025, "coinbase")},
        {R"({"usd":67250.5,"timestamp":757382400,"source":"coinbase","extra":[1,{"a":null}]})",
         price(67250.5, newYear2025, "coinbase")},
        {R"({"usd":67000,"timestamp":757382400,"source":"kraken"})",
         price(67000.0, newYear2025, "kraken")},
        {R"({"usd":0,"timestamp":757382400,"source":"kraken"})", price(0, newYear2025, "kraken")},
        {R"({"usd":-12.5,"timestamp":757382400,"source":"kraken"})",
         price(-12.5, newYear2025, "kraken")},
        {R"({"usd":18446744073709551615,"timestamp":7.573824005e8,"source":""})",
         price(18446744073709551615.0, newYear2025 + 500ms, "")},
        {R"({"usd":1,"timestamp":-978307200,"source":"x"})", price(1, TimePoint{}, "x")},
        {" {\n \"usd\" : 1 ,\"timestamp\":0, \"source\":\"x\"\n} \n",
         price(1, TimePoint{sys_days{2001y / 1 / 1}.time_since_epoch()}, "x")},
        {R"({"usd":1,"timestamp":8245064836,"source":"x"})",
         price(1, TimePoint{sys_days{2262y / 4 / 11}.time_since_epoch() + 23h + 47min + 16s}, "x")},
    };
    for (const auto& row : cases) {
        const auto decoded = LastPriceCache::decode(row.json);
        ASSERT_TRUE(decoded.has_value()) << row.json;
        EXPECT_EQ(*decoded, row.expected) << row.json;
    }
}

TEST(LastPriceCacheTest, refusesRecordsThatDoNotDecode) {
    const std::string deep = std::string(64, '[') + std::string(64, ']');
    const std::string cases[] = {
        "",
        "coinbase",
        "[]",
        "67250.5",
        "null",
        R"({"usd":67250.5,"timestamp":757382400)",
        R"({"usd":67250.5,"timestamp":757382400,"source":"coinbase"} x)",
        R"({"usd":67250.5,"timestamp":757382400,"source":"coinbase"}{})",
        R"({"timestamp":757382400,"source":"coinbase"})",
        R"({"usd":67250.5,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":757382400})",
        R"({"usd":null,"timestamp":757382400,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":null,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":757382400,"source":null})",
        R"({"usd":"67250.5","timestamp":757382400,"source":"coinbase"})",
        R"({"usd":true,"timestamp":757382400,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":"757382400","source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":false,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":757382400,"source":5})",
        R"({"usd":67250.5,"timestamp":757382400,"source":["coinbase"]})",
        R"({"USD":67250.5,"timestamp":757382400,"source":"coinbase"})",
        R"({"usd":67250.5,"Timestamp":757382400,"source":"coinbase"})",
        R"({"usd":1e400,"timestamp":757382400,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":1e400,"source":"coinbase"})",
        // Past the year 2262 or before 1678: a time point cannot hold it.
        R"({"usd":67250.5,"timestamp":8245064837,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":-10201679237,"source":"coinbase"})",
        R"({"usd":67250.5,"timestamp":1e15,"source":"coinbase"})",
        R"({"usd":NaN,"timestamp":757382400,"source":"coinbase"})",
        "{\"usd\":1,\"timestamp\":0,\"source\":\"\xff\"}",
        R"({"usd":1,"timestamp":0,"source":"x","deep":)" + deep + "}",
    };
    for (const auto& json : cases) {
        EXPECT_FALSE(LastPriceCache::decode(bytes(json)).has_value()) << json;
    }
}

// A record read back and written again stays exactly the same, so a restored price that
// is stored again does not drift.
TEST(LastPriceCacheTest, decodingWhatWasEncodedGivesTheSameRecord) {
    const double usds[] = {
        67250.5, 0.1, 1.0 / 3, 67000, 5e-324, 1.7976931348623157e308, -3.25, 9007199254740993.0};
    const double seconds[] = {757382400, 757382400.123, 757382400.1234567, -978307200.75, 0,
                              8.2e9,     -1e10};
    const char* sources[] = {"coinbase", "", "\xe2\x82\xbf \"quoted\" \\ \t"};
    for (const double usd : usds) {
        for (const double second : seconds) {
            for (const char* source : sources) {
                const BitcoinPrice original = price(usd, *ReferenceDate::timePoint(second), source);
                const auto encoded = LastPriceCache::encode(original);
                ASSERT_TRUE(encoded.has_value());
                const auto decoded = LastPriceCache::decode(*encoded);
                ASSERT_TRUE(decoded.has_value()) << encoded->toStdString();
                EXPECT_EQ(*decoded, original) << encoded->toStdString();
            }
        }
    }
}

// The clock gives nanoseconds, finer than a double of seconds holds today (about 119 ns):
// the first round trip rounds, every later one keeps the record.
TEST(LastPriceCacheTest, aClockReadingSettlesAfterOneRoundTrip) {
    const BitcoinPrice original = price(67250.5, newYear2025 + 123456789ns, "coinbase");
    const auto once = LastPriceCache::decode(*LastPriceCache::encode(original));
    ASSERT_TRUE(once.has_value());
    EXPECT_LE(abs(once->timestamp - original.timestamp), 60ns);
    const auto twice = LastPriceCache::decode(*LastPriceCache::encode(*once));
    EXPECT_EQ(twice, once);
}

class LastPriceCacheFileTest : public testing::Test {
protected:
    TempDir home;
    ScopedEnvironment config{"XDG_CONFIG_HOME", (home.path() / "config").string()};
    std::filesystem::path file = home.path() / "config/brimwell-ticker/brimwell-ticker.conf";

    // Files in the settings directory other than the settings file: scratch files left
    // behind would show up here.
    std::vector<std::string> strayFiles() const {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(file.parent_path())) {
            if (entry.path() != file) {
                names.push_back(entry.path().filename().string());
            }
        }
        return names;
    }
};

TEST_F(LastPriceCacheFileTest, firstStartHasNoPriceAndTheFirstStoreMakesTheEntry) {
    LastPriceCache cache{SettingsFile()};
    EXPECT_EQ(cache.restore(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(file)) << "restoring must not create anything";

    const BitcoinPrice stored = price(67250.5, newYear2025, "coinbase");
    cache.store(stored);
    EXPECT_EQ(cache.restore(), stored);
    EXPECT_EQ(LastPriceCache{SettingsFile()}.restore(), stored);
    EXPECT_EQ(readFile(file),
              "[General]\nBrimwellTicker.LastPrice=\"@ByteArray({\\\"usd\\\":"
              "67250.5,\\\"timestamp\\\":757382400,\\\"source\\\":\\\"coinbase\\\"})"
              "\"\n");
    EXPECT_EQ(strayFiles(), std::vector<std::string>());
}

TEST_F(LastPriceCacheFileTest, readsAFileWrittenByHand) {
    const std::string record =
        R"(@ByteArray({\"usd\":67250.5,\"timestamp\":757382400,\"source\":\"coinbase\"}))";
    const std::string cases[] = {
        "[General]\nBrimwellTicker.LastPrice=\"" + record + "\"\n",
        "BrimwellTicker.LastPrice=\"" + record + "\"\n",
        "; kept by hand\r\n[General]\r\nBrimwellTicker.UpdateInterval=30\r\n"
        "BrimwellTicker.LastPrice = \"" +
            record + "\"\r\n\r\n[Other]\r\nx=1\r\n",
    };
    for (const auto& text : cases) {
        writeFile(file, text);
        EXPECT_EQ(LastPriceCache{SettingsFile()}.restore(), price(67250.5, newYear2025, "coinbase"))
            << text;
    }
}

TEST_F(LastPriceCacheFileTest, restoresNothingFromAnUnusableEntryAndLeavesItAlone) {
    const std::string cases[] = {
        // A corrupt file.
        "\x00\x01\xff[[[\n=\n\xc3\x28=1\nBrimwell"s,
        // The record under another kind of value: a plain string, a number, a list.
        R"(BrimwellTicker.LastPrice="{\"usd\":67250.5,\"timestamp\":757382400,\"source\":\"coinbase\"}")"
        "\n",
        "BrimwellTicker.LastPrice=67250.5\n",
        "BrimwellTicker.LastPrice=a, b\n",
        // Data that does not decode.
        R"ini(BrimwellTicker.LastPrice="@ByteArray({\"usd\":67250.5,\"timestamp\":\"757382400\",\"source\":\"coinbase\"})")ini"
        "\n",
        R"ini(BrimwellTicker.LastPrice="@ByteArray({\"usd\":67250.5,\"timestamp\":757382400})")ini"
        "\n",
        R"ini(BrimwellTicker.LastPrice="@ByteArray({\"usd\":67250.5,\"timestamp\":757382400,)")ini"
        "\n",
        "BrimwellTicker.LastPrice=@ByteArray()\n",
        // The key in a group of its own is another key.
        "[BrimwellTicker]\nLastPrice=\"@ByteArray({\\\"usd\\\":1,\\\"timestamp\\\":0,"
        "\\\"source\\\":\\\"x\\\"})\"\n",
    };
    for (const auto& text : cases) {
        writeFile(file, text);
        EXPECT_EQ(LastPriceCache{SettingsFile()}.restore(), std::nullopt) << text;
        EXPECT_EQ(readFile(file), text);
    }
}

TEST_F(LastPriceCacheFileTest, theNextStoreReplacesAnUnusableEntry) {
    writeFile(file, "\x00\x01\xff[[[\n=\n\xc3\x28=1\nBrimwellTicker.LastPrice=?"s);
    LastPriceCache cache{SettingsFile()};
    ASSERT_EQ(cache.restore(), std::nullopt);
    const BitcoinPrice stored = price(67250.5, newYear2025, "coinbase");
    cache.store(stored);
    EXPECT_EQ(cache.restore(), stored);
}

TEST_F(LastPriceCacheFileTest, anExtraMemberIsRestoredAndLostAtTheNextStore) {
    writeFile(
        file,
        R"ini(BrimwellTicker.LastPrice="@ByteArray({\"usd\":67250.5,\"timestamp\":757382400,\"source\":\"coinbase\",\"note\":\"x\"})")ini"
        "\n");
    LastPriceCache cache{SettingsFile()};
    EXPECT_EQ(cache.restore(), price(67250.5, newYear2025, "coinbase"));

    const BitcoinPrice next = price(67300, newYear2025 + 60s, "coinbase");
    cache.store(next);
    EXPECT_EQ(SettingsFile().readData(LastPriceCache::key),
              bytes(R"({"usd":67300,"timestamp":757382460,"source":"coinbase"})"));
}

// Everything a QSettings-written file holds, read through a path that QSettings has not
// cached in this process.
QVariantMap allValues(const TempDir& scratch, const std::filesystem::path& file) {
    static int copies = 0;
    const auto copy = scratch.path() / ("copy" + std::to_string(copies++) + ".conf");
    std::filesystem::copy_file(file, copy);
    const QSettings reader(QString::fromStdString(copy.string()), QSettings::IniFormat);
    QVariantMap values;
    for (const QString& key : reader.allKeys()) {
        values.insert(key, reader.value(key));
    }
    return values;
}

TEST_F(LastPriceCacheFileTest, storingKeepsEveryOtherKey) {
    TempDir scratch;
    {
        QSettings writer(QString::fromStdString(file.string()), QSettings::IniFormat);
        writer.setValue("BrimwellTicker.UpdateInterval", 30);
        writer.setValue(LastPriceCache::key, QByteArray("old"));
        writer.setValue("zeta", "a, b");
        writer.setValue("list", QStringList{"a", "b", "c"});
        writer.setValue("blob", QByteArray("\0\1\xff\n", 4));
        writer.setValue("when", QDateTime(QDate(2025, 1, 1), QTime(0, 0), QTimeZone::utc()));
        writer.setValue("Other/key", "value");
        writer.setValue("Other/Deeper/x", 1);
        writer.sync();
        ASSERT_EQ(writer.status(), QSettings::NoError);
    }
    QVariantMap before = allValues(scratch, file);
    ASSERT_EQ(before.size(), 8);

    const BitcoinPrice stored = price(67250.5, newYear2025, "coinbase");
    LastPriceCache{SettingsFile()}.store(stored);

    QVariantMap after = allValues(scratch, file);
    EXPECT_EQ(after.value(LastPriceCache::key).toByteArray(), *LastPriceCache::encode(stored));
    before.remove(LastPriceCache::key);
    after.remove(LastPriceCache::key);
    EXPECT_EQ(after, before);
    EXPECT_EQ(SettingsFile().updateInterval(), 30);
}

TEST_F(LastPriceCacheFileTest, aFailedEncodingWritesNothing) {
    LastPriceCache cache{SettingsFile()};
    const BitcoinPrice good = price(67250.5, newYear2025, "coinbase");
    cache.store(good);
    const std::string before = readFile(file);
    cache.store(price(std::numeric_limits<double>::infinity(), newYear2025, "coinbase"));
    cache.store(price(std::numeric_limits<double>::quiet_NaN(), newYear2025, "coinbase"));
    EXPECT_EQ(readFile(file), before);
    EXPECT_EQ(cache.restore(), good);
}

// Each store is seen by the next restore in the same process, also when the records have
// the same length and the file's time does not change (a coarse file system, or stores
// within one millisecond).
TEST_F(LastPriceCacheFileTest, aRestoreSeesTheLatestStore) {
    LastPriceCache cache{SettingsFile()};
    const auto sameTime = std::filesystem::file_time_type::clock::now();
    for (int i = 0; i < 10; ++i) {
        const BitcoinPrice stored = price(67000 + i, newYear2025, "kraken");
        cache.store(stored);
        std::filesystem::last_write_time(file, sameTime);
        ASSERT_EQ(cache.restore(), stored) << i;
        ASSERT_EQ(LastPriceCache{SettingsFile()}.restore(), stored) << i;
    }
}

} // namespace
