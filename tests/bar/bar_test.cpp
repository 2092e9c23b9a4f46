// Status-bar records in each format, and an output that never waits for its reader.

#include "bar/bar_stream.h"
#include "test_support.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::system_clock;

TEST(BarRecord, saysTheStateInEachFormat) {
    // Noon of a day in the local time zone, the quote three minutes before.
    const auto now = Clock::time_point(
        std::chrono::milliseconds(QDateTime(QDate(2026, 12, 7), QTime(12, 0)).toMSecsSinceEpoch()));
    const BitcoinPrice price{67432.49, now - 3min, "kraken"};
    const QLocale c = QLocale::c();
    EXPECT_EQ(barRecord(BarFormat::waybar, {}, now, c),
              R"({"text":"₿ ...","alt":"","tooltip":"Fetching...","class":"pending"})");
    EXPECT_EQ(barRecord(BarFormat::waybar, {price}, now, c),
              R"({"text":"₿ 67,432","alt":"kraken","tooltip":"₿ 67,432\n₿ → USD\n)"
              R"(Source: kraken\nUpdated: 11:57","class":"ok"})");
    EXPECT_EQ(barRecord(BarFormat::waybar, {price, {}, true, "+1.0 % in 24 h"}, now, c),
              R"({"text":"₿ 67,432","alt":"kraken","tooltip":"₿ 67,432\n₿ → USD\n)"
              R"(+1.0 % in 24 h\nSource: kraken\nUnchanged since 11:57","class":"stale"})");
    EXPECT_EQ(barRecord(BarFormat::waybar, {price, "down", true, "", "No price service answered"},
                        now + 24h, c),
              R"({"text":"₿ 67,432","alt":"kraken","tooltip":"₿ 67,432\n₿ → USD\n)"
              R"(Source: kraken\nUnchanged since 7 Dec 2026 11:57\nNo price service answered",)"
              R"("class":"error"})");
    EXPECT_EQ(barRecord(BarFormat::plain, {price, "down"}, now, c), "₿ 67,432");
    EXPECT_EQ(barRecord(BarFormat::i3bar, {price}, now, c),
              R"([{"name":"brimwell-ticker","full_text":"₿ 67,432"}])");
    EXPECT_EQ(barRecord(BarFormat::i3bar, {price, {}, true}, now, c),
              R"([{"name":"brimwell-ticker","full_text":"₿ 67,432","color":"#888888"}])");
    EXPECT_EQ(barRecord(BarFormat::i3bar, {price, "down", true}, now, c),
              R"([{"name":"brimwell-ticker","full_text":"₿ 67,432","color":"#FF0000"}])");
    EXPECT_EQ(barRecord(BarFormat::waybar, {{}, "a\xff\"b"}, now, c),
              R"({"text":"₿ ...","alt":"","tooltip":"Fetching...\na)"
              "\xef\xbf\xbd"
              R"(\"b","class":"error"})");
}

struct Pipe {
    int fds[2];
    Pipe() { EXPECT_EQ(::pipe(fds), 0); }
    ~Pipe() {
        ::close(fds[0]);
        ::close(fds[1]);
    }
    std::string drain() {
        std::string text(1 << 20, '\0');
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        const ssize_t got = ::read(fds[0], text.data(), text.size());
        return text.substr(0, std::size_t(std::max<ssize_t>(got, 0)));
    }
};

TEST(BarOutput, neverWaitsForItsReaderKeepsOnlyTheNewestWaitingRecordAndEndsWhenItGoes) {
    Pipe pipe;
    BarOutput output(BarFormat::i3bar, pipe.fds[1]);
    output.write("[1]");
    EXPECT_EQ(pipe.drain(), "{\"version\":1}\n[\n[1]\n");
    const std::string big(70000, 'x'); // more than the pipe holds
    output.write(big);
    output.write("[2]");
    output.write("[3]");
    EXPECT_FALSE(output.flushed());
    std::string read;
    QSignalSpy drained(&output, &BarOutput::drained);
    EXPECT_TRUE(eventually([&] {
        read += pipe.drain();
        return output.flushed();
    }));
    read += pipe.drain();
    EXPECT_EQ(read, "," + big + "\n,[3]\n");
    EXPECT_EQ(drained.size(), 1);
    // With nothing left to write, it still hears that the reader went away.
    QSignalSpy closed(&output, &BarOutput::closed);
    QTest::qWait(100);
    EXPECT_EQ(closed.size(), 0);
    ::close(pipe.fds[0]);
    pipe.fds[0] = ::open("/dev/null", O_RDONLY);
    EXPECT_TRUE(eventually([&] { return !closed.isEmpty(); }));
}

TEST(BarStream, wakesForTheDateOnlyAtTheNextDaysStartAlsoWhereItsMidnightIsSkipped) {
    // Summer time starts at the first Sunday of September's midnight, as in Chile: the
    // evening before, the next day begins at 01:00.
    const QByteArray zone = qgetenv("TZ");
    qputenv("TZ", "CLT4CLST,M9.1.0/0,M4.1.0/0");
    ::tzset();
    const auto now = Clock::time_point(
        std::chrono::milliseconds(QDateTime(QDate(2026, 9, 5), QTime(22, 0)).toMSecsSinceEpoch()));
    TestFeed feed;
    feed.current.latestPrice = BitcoinPrice{67000, now, "kraken"};
    int looks = 0;
    Pipe pipe;
    BarStream stream(feed, BarFormat::waybar, pipe.fds[1], QLocale::c(), [&] {
        ++looks;
        return now;
    });
    QTest::qWait(200);
    EXPECT_EQ(looks, 1);
    EXPECT_NE(pipe.drain().find("67,000"), std::string::npos);
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    ::tzset();
}

} // namespace
