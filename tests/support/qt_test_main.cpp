#include <QCoreApplication>
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <csignal>

// For tests that need an event loop: as the program does at start, then a Qt application.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
