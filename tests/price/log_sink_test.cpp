#include "log_capture.h"
#include "price/log_sink.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

TEST(LogSinkTest, writesTheLineUnformattedToStderr) {
    TempDir dir;
    const auto path = dir.path() / "stderr";
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    const int saved = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);
    LogSink::write("[ticker] coinbase network error: 100% %s %n %d");
    ::dup2(saved, STDERR_FILENO);
    ::close(saved);
    ::close(file);

    std::ifstream in(path);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "[ticker] coinbase network error: 100% %s %n %d\n");
}

TEST(LogSinkTest, oneEventIsAlwaysOneLine) {
    EXPECT_EQ(LogSink::oneLine("a\nb\r\tc"), "a\\nb\\r\\tc");
    EXPECT_EQ(LogSink::oneLine(std::string("x\0y\x1b\x7f", 5)), "x\\x00y\\x1b\\x7f");
    EXPECT_EQ(LogSink::oneLine("\u20bf 67,432 % \u00e9\U0001f600"),
              "\u20bf 67,432 % \u00e9\U0001f600");
}

// A service's answer may carry any bytes into a description; the line stays UTF-8 text.
TEST(LogSinkTest, bytesThatAreNotUtf8AreEscaped) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"last read: '\"\xff'", "last read: '\"\\xff'"},
        {"\xc3", "\\xc3"},                            // a sequence cut short at the end
        {"\xc3(", "\\xc3("},                          // ... or by another character
        {"\xc0\xaf", "\\xc0\\xaf"},                   // an overlong form of "/"
        {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},          // another one
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},          // a surrogate
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"}, // past U+10FFFF
        {"\xc2\x9b"
         "31m",
         "\\xc2\\x9b31m"},                                        // a C1 control (CSI)
        {"\xc2\xa0\xf4\x8f\xbf\xbf", "\xc2\xa0\xf4\x8f\xbf\xbf"}, // valid: kept
    };
    for (const auto& row : cases) {
        EXPECT_EQ(LogSink::oneLine(row.in), row.out) << row.in;
    }
}

TEST(LogSinkTest, captureSeesLinesFromEveryThread) {
    LogCapture capture;
    std::thread worker([] { LogSink::write("[ticker] from a worker"); });
    worker.join();
    LogSink::write("[ticker] from the main thread");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"[ticker] from a worker",
                                                         "[ticker] from the main thread"}));
}

} // namespace
