#include <QApplication>
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <csignal>

// For widget tests: a QApplication on the offscreen platform, so no display is needed.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
