#include "bar/bar_stream.h"
#include "scripted_provider.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A stream in memory that the test can read while the bar writes to it.
class MemoryStream {
public:
    MemoryStream() : file_(open_memstream(&buffer_, &size_)) {}
    ~MemoryStream() {
        std::fclose(file_);
        std::free(buffer_);
    }
    std::FILE* file() { return file_; }
    QStringList lines() {
        std::fflush(file_);
        return QString::fromUtf8(buffer_, static_cast<qsizetype>(size_))
            .split('\n', Qt::SkipEmptyParts);
    }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

struct Bar {
    std::shared_ptr<ScriptedProvider> provider = std::make_shared<ScriptedProvider>("coinbase");
    PriceFetcher fetcher{PriceFetcher::Providers{provider}, std::nullopt};
    MemoryStream out;
    std::chrono::system_clock::duration offset{0};
    std::unique_ptr<BarStream> stream;

    explicit Bar(BarFormat format) {
        // The clock runs `offset` ahead of the time the quote was stamped.
        stream = std::make_unique<BarStream>(fetcher, format, out.file(), QLocale::c(), [this] {
            const auto& price = fetcher.latestPrice();
            return (price ? price->timestamp : std::chrono::system_clock::now()) + offset;
        });
        QCoreApplication::processEvents();
    }
    void pass() {
        const auto future = fetcher.fetchOnce();
        ASSERT_TRUE(QTest::qWaitFor([&] { return future.isFinished(); }, 5000));
        QCoreApplication::processEvents();
    }
};

TEST(BarStreamTest, plainWritesALineOnlyWhenTheTitleChanges) {
    Bar bar(BarFormat::plain);
    bar.provider->thenAnswer(100).thenFail(PriceError::timeout()).thenAnswer(100.2);
    for (int i = 0; i < 3; ++i) {
        bar.pass();
    }
    EXPECT_EQ(bar.out.lines(), (QStringList{"\u20bf ...", "\u20bf 100"}));
}

TEST(BarStreamTest, i3barColoursTheBlockWhileAFailureIsShown) {
    Bar bar(BarFormat::i3bar);
    bar.provider->thenAnswer(100).thenFail(PriceError::timeout()).thenAnswer(100);
    for (int i = 0; i < 3; ++i) {
        bar.pass();
    }
    EXPECT_EQ(bar.out.lines(),
              (QStringList{
                  R"({"version":1})", "[", R"([{"name":"brimwell-ticker","full_text":"₿ ..."}])",
                  R"(,[{"name":"brimwell-ticker","full_text":"₿ 100"}])",
                  R"(,[{"name":"brimwell-ticker","full_text":"₿ 100","color":"#FF0000"}])",
                  R"(,[{"name":"brimwell-ticker","full_text":"₿ 100"}])"}));
}

TEST(BarStreamTest, waybarMovesTheAgeOnWithoutAFetch) {
    Bar bar(BarFormat::waybar);
    bar.provider->thenAnswer(67432.49);
    bar.offset = 59'800ms;
    bar.pass();
    ASSERT_EQ(bar.out.lines().size(), 2);
    EXPECT_TRUE(bar.out.lines()[1].contains("Updated: less than 1 min"));
    bar.offset = 61s; // the age timer is due in about 0.2 s
    ASSERT_TRUE(QTest::qWaitFor([&] { return bar.out.lines().size() == 3; }, 2000));
    EXPECT_TRUE(bar.out.lines()[2].contains("Updated: 1 min"));
    EXPECT_EQ(bar.provider->calls(), 1);
}

TEST(BarStreamTest, aBarThatWentAwayIsReported) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    std::FILE* out = ::fdopen(fds[1], "w");
    auto provider = std::make_shared<ScriptedProvider>("a");
    PriceFetcher fetcher(PriceFetcher::Providers{provider}, std::nullopt);
    BarStream stream(fetcher, BarFormat::plain, out, QLocale::c(),
                     [] { return std::chrono::system_clock::now(); });
    QSignalSpy closed(&stream, &BarStream::outputClosed);
    EXPECT_TRUE(closed.wait(1000));
    std::fclose(out);
}

} // namespace
