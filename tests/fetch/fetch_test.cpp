// Fetching: the failover pass and what it publishes, the polling loop, the stored last
// price, the settings file (also when it is hostile), the price history and the alerts.

#include "fetch/last_price_cache.h"
#include "fetch/price_alerts.h"
#include "fetch/price_fetcher.h"
#include "fetch/price_history.h"
#include "price/log_sink.h"
#include "test_support.h"
#include "view/price_text.h"

#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::system_clock;

// A provider that gives its answers in turn (the last one for ever). A gated one holds its
// n-th call until the test has opened the gate n times.
class Scripted : public PriceProvider {
public:
    using Answer = std::expected<double, PriceError>;
    Scripted(std::string name, std::vector<Answer> answers, bool gated = false)
        : name_(std::move(name)), answers_(std::move(answers)), gated_(gated) {}
    const std::string& name() const override { return name_; }
    std::expected<BitcoinPrice, PriceError> fetchPrice() const override {
        std::unique_lock lock(mutex_);
        const std::size_t call = calls++;
        opened_.wait_for(lock, patience, [&] { return !gated_ || opens_ > call; });
        const Answer& answer = answers_[std::min(call, answers_.size() - 1)];
        if (!answer) {
            return std::unexpected(answer.error());
        }
        return BitcoinPrice{*answer, Clock::now(), name_};
    }
    void open() {
        const std::lock_guard lock(mutex_);
        ++opens_;
        opened_.notify_all();
    }
    mutable std::atomic<std::size_t> calls = 0;

private:
    std::string name_;
    std::vector<Answer> answers_;
    bool gated_;
    mutable std::mutex mutex_;
    mutable std::condition_variable opened_;
    std::size_t opens_ = 0;
};

std::unexpected<PriceError> failure(int code) {
    switch (code) {
    case 0:
        return std::unexpected(PriceError::network({7, "refused"}));
    case 1:
        return std::unexpected(PriceError::decode("x: bad"));
    case 2:
        return std::unexpected(PriceError::unexpectedResponse("x: no price"));
    }
    return std::unexpected(PriceError::timeout());
}

QString rendered(int code) {
    return "The operation couldn\u2019t be completed. (Brimwell_Ticker.PriceError error " +
           QString::number(code) + ".)";
}

void pass(PriceFetcher& fetcher) {
    QFutureWatcher<void> watcher;
    watcher.setFuture(fetcher.fetchOnce());
    ASSERT_TRUE(eventually([&] { return watcher.isFinished(); }));
}

struct Settings {
    QTemporaryDir dir;
    QString path = dir.filePath("brimwell-ticker/brimwell-ticker.conf");
    void write(const QByteArray& text, QFile::Permissions permissions = {}) const {
        QDir().mkpath(dir.filePath("brimwell-ticker"));
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write(text);
        file.close();
        if (permissions) {
            file.setPermissions(permissions);
        }
    }
    QByteArray read() const {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

const BitcoinPrice stored{67250.5, Clock::time_point(std::chrono::seconds(1735689600)), "coinbase"};

TEST(Fetcher, failsOverInOrderStopsAtTheFirstPriceAndStoresIt) {
    auto a = std::make_shared<Scripted>("a", std::vector<Scripted::Answer>{failure(2)});
    auto b = std::make_shared<Scripted>("b", std::vector<Scripted::Answer>{failure(3), 4.0});
    auto c = std::make_shared<Scripted>("c", std::vector<Scripted::Answer>{3.0});
    Settings settings;
    PriceFetcher fetcher({a, b, c}, LastPriceCache(SettingsFile(settings.path)));
    QSignalSpy fetching(&fetcher, &PriceFetcher::isFetchingChanged);
    pass(fetcher);
    EXPECT_EQ(fetcher.latestPrice()->usd, 3.0);
    EXPECT_EQ(fetcher.latestPrice()->source, "c");
    EXPECT_FALSE(fetcher.lastError());
    const auto stored = LastPriceCache(SettingsFile(settings.path)).restore();
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->source, "c");
    pass(fetcher); // b answers now: c is not asked
    EXPECT_EQ(fetcher.latestPrice()->source, "b");
    EXPECT_EQ(std::vector<std::size_t>({a->calls, b->calls, c->calls}),
              std::vector<std::size_t>({2, 2, 1}));
    ASSERT_EQ(fetching.size(), 4);
    EXPECT_EQ(fetching[0][0].toBool(), true);
    EXPECT_EQ(fetching[1][0].toBool(), false);
}

TEST(Fetcher, totalFailureJoinsEveryProvidersEntryAndKeepsThePrice) {
    Providers providers;
    for (int code : {0, 1, 2, 3, 2}) {
        providers.push_back(std::make_shared<Scripted>(
            "p" + std::to_string(code), std::vector<Scripted::Answer>{failure(code)}));
    }
    Settings settings;
    LastPriceCache(SettingsFile(settings.path)).store(stored);
    const QByteArray before = settings.read();
    PriceFetcher fetcher(providers, LastPriceCache(SettingsFile(settings.path)));
    pass(fetcher);
    EXPECT_EQ(*fetcher.lastError(), "All providers failed. p0: " + rendered(0) +
                                        " | p1: " + rendered(1) + " | p2: " + rendered(2) +
                                        " | p3: " + rendered(3) + " | p2: " + rendered(2));
    EXPECT_EQ(fetcher.failureSummary(), "No price service answered: couldn't connect (1), "
                                        "no usable price (3), timed out (1)");
    EXPECT_EQ(fetcher.latestPrice(), stored);
    EXPECT_FALSE(fetcher.isFetching());
    EXPECT_EQ(settings.read(), before);
    PriceFetcher empty({}, std::nullopt);
    pass(empty);
    EXPECT_EQ(*empty.lastError(), "All providers failed. ");
}

TEST(Fetcher, everyAssignmentNotifiesAndSubscribersGetTheCurrentValueFirst) {
    auto provider = std::make_shared<Scripted>("p", std::vector<Scripted::Answer>{5.0});
    PriceFetcher fetcher({provider}, std::nullopt);
    QSignalSpy before(&fetcher, &PriceFetcher::objectWillChange);
    QSignalSpy prices(&fetcher, &PriceFetcher::latestPriceChanged);
    QSignalSpy errors(&fetcher, &PriceFetcher::lastErrorChanged);
    std::vector<std::optional<BitcoinPrice>> seen;
    fetcher.subscribe(&PriceFetcher::latestPriceChanged, &fetcher,
                      [&](const std::optional<BitcoinPrice>& price) { seen.push_back(price); });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_FALSE(seen[0]);
    pass(fetcher);
    pass(fetcher);
    EXPECT_EQ(prices.size(), 2); // the same price twice, two notifications
    EXPECT_EQ(errors.size(), 2); // none set to none
    EXPECT_EQ(before.size(), 8); // fetching, price, error, fetching; twice
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_NE(seen[1]->timestamp, seen[2]->timestamp);
}

TEST(Fetcher, overlappingPassesEachGoTheirWayButTriggersInBurstsWaitForThem) {
    auto provider =
        std::make_shared<Scripted>("p", std::vector<Scripted::Answer>{failure(3), 9.0}, true);
    PriceFetcher fetcher({provider}, std::nullopt);
    QFutureWatcher<void> first;
    QFutureWatcher<void> second;
    first.setFuture(fetcher.fetchOnce());
    ASSERT_TRUE(eventually([&] { return provider->calls == 1; }));
    second.setFuture(fetcher.fetchOnce());
    ASSERT_TRUE(eventually([&] { return provider->calls == 2; }));
    provider->open(); // the first pass's answer, a failure
    ASSERT_TRUE(eventually([&] { return first.isFinished(); }));
    EXPECT_FALSE(second.isFinished());
    EXPECT_FALSE(fetcher.isFetching()); // the first pass to end says so
    EXPECT_TRUE(fetcher.lastError());
    provider->open();
    ASSERT_TRUE(eventually([&] { return second.isFinished(); }));
    EXPECT_FALSE(fetcher.lastError()); // the last pass to end decides
    EXPECT_EQ(fetcher.latestPrice()->usd, 9.0);
    for (int signal = 0; signal < 30; ++signal) { // one pass at once, one after it
        fetcher.fetchWhenIdle();
    }
    ASSERT_TRUE(eventually([&] { return provider->calls == 3; }));
    provider->open();
    ASSERT_TRUE(eventually([&] { return provider->calls == 4; }));
    provider->open(); // a fifth pass would wait at the gate, fetching for ever
    EXPECT_TRUE(eventually([&] { return !fetcher.isFetching(); }));
    EXPECT_EQ(provider->calls, 4u);
}

TEST(Polling, sleepsTheIntervalInWholeNanosecondsOr60WhenItCannot) {
    const std::pair<double, std::optional<std::uint64_t>> intervals[] = {
        {0.25, 250'000'000},
        {0.5, 500'000'000},
        {59.9999999999, 59'999'999'999},
        {0, 0},
        {-0.5e-9, 0},
        {-1e-9, std::nullopt},
        {-1, std::nullopt},
        {INFINITY, std::nullopt},
        {NAN, std::nullopt},
        {0x1p64 / 1e9, std::nullopt},
        {18446744073.7, 18446744073'699'999'744ULL}};
    for (const auto& [interval, nanoseconds] : intervals) {
        EXPECT_EQ(PriceFetcher::sleepNanoseconds(interval), nanoseconds) << interval;
    }
    const LogLines log;
    auto provider = std::make_shared<Scripted>("p", std::vector<Scripted::Answer>{1.0});
    PriceFetcher fetcher({provider}, std::nullopt);
    fetcher.startPolling(-5);
    ASSERT_TRUE(eventually([&] { return provider->calls == 1 && !fetcher.isFetching(); }));
    QTest::qWait(300);
    EXPECT_EQ(provider->calls, 1u); // and the next in a minute
    EXPECT_EQ(log.lines(),
              std::vector<std::string>{"[ticker] invalid update interval -5, using 60"});
}

// Where nothing must happen, the test waits a while longer than it would take to happen.
TEST(Polling, passesAtOnceThenAfterEachIntervalUntilStopped) {
    auto provider = std::make_shared<Scripted>("p", std::vector<Scripted::Answer>{1.0}, true);
    PriceFetcher fetcher({provider}, std::nullopt);
    fetcher.startPolling(0.2);
    EXPECT_EQ(provider->calls, 0u); // when the event loop runs, not inside the call
    ASSERT_TRUE(eventually([&] { return provider->calls == 1; }));
    QTest::qWait(300); // a pass longer than the interval: the sleep counts from its end
    const auto ended = std::chrono::steady_clock::now();
    provider->open();
    ASSERT_TRUE(eventually([&] { return provider->calls == 2; }));
    EXPECT_GE(std::chrono::steady_clock::now() - ended, 200ms); // seen late, never early
    EXPECT_TRUE(fetcher.isFetching());
    fetcher.stopPolling(); // during a pass: it publishes, and nothing follows
    provider->open();
    ASSERT_TRUE(eventually([&] { return !fetcher.isFetching(); }));
    QTest::qWait(500);
    EXPECT_EQ(provider->calls, 2u);
    fetcher.startPolling(100); // a new loop passes at once; a second start replaces it
    fetcher.startPolling(100);
    ASSERT_TRUE(eventually([&] { return provider->calls == 3; }));
    provider->open();
    ASSERT_TRUE(eventually([&] { return !fetcher.isFetching(); }));
    QTest::qWait(200);
    EXPECT_EQ(provider->calls, 3u);
    provider->open(); // lets a call too many end
}

TEST(Polling, intervalZeroRunsPassesBackToBackWithoutStarvingTheLoop) {
    auto provider = std::make_shared<Scripted>("p", std::vector<Scripted::Answer>{1.0});
    PriceFetcher fetcher({provider}, std::nullopt);
    bool served = false;
    QTimer::singleShot(100, [&] { served = true; });
    fetcher.startPolling(0);
    EXPECT_TRUE(eventually([&] { return provider->calls > 20 && served; }));
}

TEST(LastPriceCache, storesTheRecordAsCompactJsonAndReadsBackOnlyWhatDecodes) {
    EXPECT_EQ(LastPriceCache::encode(stored),
              R"({"usd":67250.5,"timestamp":757382400,"source":"coinbase"})");
    const std::pair<const char*, std::optional<double>> records[] = {
        {R"({"source":"kraken","timestamp":757382400.25,"usd":67000})", 67000},
        {R"({"usd":0,"timestamp":1,"source":"x","extra":[1]})", 0},
        {R"({"usd":-3,"timestamp":1,"source":"x"})", -3},
        {R"({"usd":1,"timestamp":"757382400","source":"x"})", std::nullopt},
        {R"({"usd":1,"timestamp":1})", std::nullopt},
        {R"({"usd":null,"timestamp":1,"source":"x"})", std::nullopt},
        {R"({"usd":1e400,"timestamp":1,"source":"x"})", std::nullopt},
        {R"({"usd":1,"timestamp":1e300,"source":"x"})", std::nullopt},
        {R"([1])", std::nullopt},
        {"", std::nullopt}};
    for (const auto& [record, usd] : records) {
        const auto decoded = LastPriceCache::decode(record);
        EXPECT_EQ(decoded ? std::optional(decoded->usd) : std::nullopt, usd) << record;
    }
    const QByteArray huge = R"({"usd":1,"timestamp":1,"source":")" +
                            QByteArray(LastPriceCache::maxRecordBytes, 'x') + "\"}";
    EXPECT_FALSE(LastPriceCache::decode(huge));
    for (const double seconds : {0.0, 757382400.25, -978307200.0, 1e-9, 9.2e9 - 978307200}) {
        EXPECT_EQ(ReferenceDate::secondsSince(*ReferenceDate::timePoint(seconds)), seconds);
    }
}

TEST(SettingsFile, readsAndWritesTheFormQSettingsReadsAndWrites) {
    Settings settings;
    {
        QSettings qt(settings.path, QSettings::IniFormat);
        qt.setValue("BrimwellTicker.UpdateInterval", 30.5);
        qt.setValue("BrimwellTicker.LastPrice", QByteArray(R"({"a":"b, c=d;"})"));
        qt.setValue("Other/key", QStringList{"x", "y"});
    }
    SettingsFile file(settings.path);
    EXPECT_EQ(file.updateInterval(), 30.5);
    EXPECT_EQ(file.readData("BrimwellTicker.LastPrice"), QByteArray(R"({"a":"b, c=d;"})"));
    const QByteArray record = "\"quotes\", back\\slash \x01 \xc3\xa9 0x1";
    ASSERT_TRUE(file.writeData("BrimwellTicker.LastPrice", record));
    EXPECT_EQ(file.readData("BrimwellTicker.LastPrice"), record);
    const QSettings qt(settings.path, QSettings::IniFormat);
    EXPECT_EQ(qt.value("BrimwellTicker.LastPrice").toByteArray(), record);
    EXPECT_EQ(qt.value("Other/key").toStringList(), (QStringList{"x", "y"}));
    EXPECT_EQ(SettingsFile(settings.dir.filePath("none.conf")).updateInterval(), 60);
}

TEST(SettingsFile, aStoreChangesItsOneLineAndKeepsEveryOtherByteForByte) {
    Settings settings;
    const QByteArray before = "; mine\n[General]\nBrimwellTicker.UpdateInterval = 30\n"
                              "Theme=@Variant(\\0\\0\\0\\x7f)\n\n[Window]\nsize=1, 2\n";
    settings.write(before, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    ASSERT_TRUE(SettingsFile(settings.path).writeData("BrimwellTicker.LastPrice", "{}"));
    EXPECT_EQ(settings.read(),
              "; mine\n[General]\nBrimwellTicker.UpdateInterval = 30\n"
              "Theme=@Variant(\\0\\0\\0\\x7f)\nBrimwellTicker.LastPrice=@ByteArray({})"
              "\n\n[Window]\nsize=1, 2\n");
    struct stat status {};
    ::stat(QFile::encodeName(settings.path).constData(), &status);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
    ASSERT_TRUE(SettingsFile(settings.path).writeData("BrimwellTicker.LastPrice", "[]"));
    EXPECT_EQ(SettingsFile(settings.path).readData("BrimwellTicker.LastPrice"), "[]");
    EXPECT_EQ(settings.read().count("LastPrice"), 1);
    // Nothing outside the file's own directory is needed.
    qputenv("TMPDIR", "/nonexistent");
    qunsetenv("XDG_RUNTIME_DIR");
    EXPECT_TRUE(SettingsFile(settings.path).writeData("BrimwellTicker.LastPrice", "{}"));
    EXPECT_EQ(QDir(settings.dir.filePath("brimwell-ticker")).entryList(QDir::Files).size(), 1);
}

TEST(SettingsFile, aLinkedFileIsWrittenWhereItLivesAndTheLinkStays) {
    Settings settings;
    const QString target = settings.dir.filePath("dotfiles/ticker.conf");
    QDir().mkpath(settings.dir.filePath("dotfiles"));
    QDir().mkpath(settings.dir.filePath("brimwell-ticker"));
    QFile::link("../dotfiles/ticker.conf", settings.path);
    ASSERT_TRUE(SettingsFile(settings.path).writeData("BrimwellTicker.LastPrice", "{}"));
    EXPECT_TRUE(QFileInfo(settings.path).isSymLink());
    EXPECT_EQ(SettingsFile(target).readData("BrimwellTicker.LastPrice"), "{}");
}

// What is not a plain settings file gives the defaults and one log line, and is never
// replaced.
TEST(SettingsFile, leavesAloneWhatItDoesNotUnderstand) {
    const std::pair<std::string, QByteArray> hostile[] = {
        {"fifo", {}},
        {"zeroDevice", {}},
        {"directory", {}},
        {"huge", "[General]\n;" + QByteArray(1 << 20, ' ')},
        {"dotfile", "# ~/.profile\nexport PATH=$HOME/bin:$PATH\nif [ -n x ]; then\n fi\n"},
        {"invalidUtf8", "[General]\nname=caf\xe9\n"},
        {"prose", "[General]\nname=x\nsome words\n"},
        {"readOnly", "[General]\nBrimwellTicker.UpdateInterval=5\n"}};
    for (const auto& [label, text] : hostile) {
        SCOPED_TRACE(label);
        Settings settings;
        QDir().mkpath(settings.dir.filePath("brimwell-ticker"));
        if (label == "fifo") {
            ::mkfifo(QFile::encodeName(settings.path).constData(), 0600);
        } else if (label == "zeroDevice") {
            QFile::link("/dev/zero", settings.path);
        } else if (label == "directory") {
            QDir().mkpath(settings.path);
        } else {
            settings.write(text, label == "readOnly" ? QFile::ReadOwner : QFile::Permissions());
        }
        const QFileInfo before(settings.path);
        const QByteArray content = before.isFile() ? settings.read() : QByteArray();
        const LogLines log;
        SettingsFile file(settings.path);
        EXPECT_EQ(file.updateInterval(), label == "readOnly" ? 5 : 60);
        EXPECT_FALSE(file.writeData("BrimwellTicker.LastPrice", "{}"));
        EXPECT_FALSE(file.writeData("BrimwellTicker.LastPrice", "{}"));
        EXPECT_EQ(QFileInfo(settings.path).lastModified(), before.lastModified());
        EXPECT_EQ(before.isFile() ? settings.read() : QByteArray(), content);
        ASSERT_FALSE(log.lines().empty());
        EXPECT_EQ(log.lines().size(), 1u); // once a run, though read and written twice
        EXPECT_TRUE(log.lines().back().starts_with("[ticker] settings file " +
                                                   settings.path.toStdString()));
    }
}

TEST(History, keepsAPointAMinuteForAWeekAndSurvivesATornLine) {
    QTemporaryDir dir;
    const QString path = dir.filePath("state/history");
    PriceHistory history(path);
    const auto start = Clock::time_point(std::chrono::seconds(1'700'000'000));
    const auto at = [&](auto offset) {
        return BitcoinPrice{100, start + offset, "x"};
    };
    history.append(at(0s), start);
    history.append(at(59s), start); // within the minute: left out
    history.append(at(60s), start);
    EXPECT_EQ(history.read(start).size(), 2u);
    QFile file(path);
    file.open(QIODevice::Append);
    file.write("1700000120 1"); // torn by a crash
    file.close();
    EXPECT_EQ(history.read(start).size(), 2u);
    history.append({101, start + 3min, "x"}, start + 3min);
    EXPECT_EQ(history.read(start).back(), (PriceHistory::Point{start + 3min, 101}));
    EXPECT_EQ(history.read(start).size(), 3u);
    history.append(at(48h), start + 48h);
    const auto later = start + 204h; // eight and a half days: the first points go
    history.append(at(204h), later);
    const auto kept = history.read(start);
    ASSERT_EQ(kept.size(), 2u); // the week before the newest point, and no more
    EXPECT_EQ(kept[0].time, start + 48h);
    EXPECT_LT(QFileInfo(path).size(), 100);
}

// The newest week is read through damage, without a point from the future, and kept.
TEST(History, keepsTheLastWeekThroughDamageAndStaysBounded) {
    QTemporaryDir dir;
    QFile file(dir.filePath("history"));
    file.open(QIODevice::WriteOnly);
    const std::int64_t seconds = 1'700'000'000;
    for (int minute = 10000; minute > 0; --minute) { // a week of one price
        file.write(QByteArray::number(seconds - minute * 60) + " 100\n");
    }
    file.write(QByteArray::number(seconds + 7200) + " 87\n"); // a clock set back
    for (int line = 0; file.size() < 2'000'000; ++line) {     // then damage
        file.write("damage " + QByteArray(line % 300, '#') + "\n");
    }
    file.close();
    PriceHistory history(file.fileName());
    const auto now = Clock::time_point(std::chrono::seconds(seconds));
    EXPECT_EQ(changeText(history.read(now - 24h, now), now, QLocale::c()), "0.0 % in 24 h");
    history.append({101, now, "x"}, now);
    EXPECT_EQ(history.read({}, now).size(), 10001u);
    EXPECT_LT(file.size(), PriceHistory::maxFileBytes / 2);
}

TEST(Alerts, alertOnceWhenAPriceCrossesALevelAndAgainOnlyAfterHalfAPercentBack) {
    struct Row {
        const char* label;
        std::optional<double> previous;
        AlertLevels levels;
        std::vector<double> prices;
        std::vector<PriceAlerts::Alert> alerts;
    };
    const Row rows[] = {
        {"crossesUp", 69000, {70000, {}}, {69999, 70001}, {{true, 70000}}},
        {"equalIsNotAbove", 69000, {70000, {}}, {70000}, {}},
        {"alreadyAboveAtStart", 70500, {70000, {}}, {71000}, {}},
        {"aboveAtStartCountsAsAnAlert", 71000, {70000, {}}, {69900, 70500}, {}},
        {"firstPriceEver", std::nullopt, {70000, {}}, {70001, 70002}, {{true, 70000}}},
        {"noRepeatWithinTheMargin", 69000, {70000, {}}, {70001, 69700, 70001}, {{true, 70000}}},
        {"repeatAfterTheMargin",
         69000,
         {70000, {}},
         {70001, 69650, 70001},
         {{true, 70000}, {true, 70000}}},
        {"crossesDown", 61000, {{}, 60000}, {60000, 61000, 59999}, {{false, 60000}}},
        {"repeatBelowAfterTheMargin",
         61000,
         {{}, 60000},
         {59999, 60301, 59999},
         {{false, 60000}, {false, 60000}}},
        {"bothLevels", 65000, {70000, 60000}, {59000, 71000}, {{false, 60000}, {true, 70000}}},
    };
    for (const Row& row : rows) {
        PriceAlerts alerts(row.previous);
        alerts.setLevels(row.levels);
        std::vector<PriceAlerts::Alert> seen;
        for (const double price : row.prices) {
            const auto given = alerts.observe(price);
            seen.insert(seen.end(), given.begin(), given.end());
        }
        EXPECT_EQ(seen, row.alerts) << row.label;
    }
}

TEST(Alerts, readTheirLevelsFromTheSettingsAndSayOnceWhatIsUnusable) {
    const std::pair<const char*, std::optional<double>> values[] = {
        {"", std::nullopt},
        {"BrimwellTicker.AlertAbove=70000\n", 70000},
        {"BrimwellTicker.AlertAbove=\n", std::nullopt},
        {"BrimwellTicker.AlertAbove=lots\n", std::nullopt},
        {"BrimwellTicker.AlertAbove = 70,000\n", std::nullopt},
        {"BrimwellTicker.AlertAbove=-5\n", std::nullopt},
        {"BrimwellTicker.AlertAbove=inf\n", std::nullopt}};
    for (const auto& [line, level] : values) {
        Settings settings;
        settings.write(QByteArray("[General]\n") + line);
        const LogLines log;
        EXPECT_EQ(readAlertLevels(SettingsFile(settings.path)).above, level) << line;
        readAlertLevels(SettingsFile(settings.path));
        const bool unusable =
            !level && QByteArray(line).contains("=") && !QByteArray(line).endsWith("=\n");
        ASSERT_EQ(log.lines().size(), unusable ? 1u : 0u) << line;
        if (unusable) { // said as written
            const std::string written = QByteArray(line).split('=')[1].trimmed().toStdString();
            EXPECT_EQ(log.lines()[0], "[ticker] BrimwellTicker.AlertAbove '" + written +
                                          "' is not a price in US dollars; no alert for it");
        }
    }
}

} // namespace
