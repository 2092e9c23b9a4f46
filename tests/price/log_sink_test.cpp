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
    EXPECT_EQ(LogSink::oneLine("\u20bf 67,432 % \xff"), "\u20bf 67,432 % \xff");
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
