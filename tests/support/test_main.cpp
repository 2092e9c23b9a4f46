#include <curl/curl.h>
#include <gtest/gtest.h>

#include <csignal>

// As the program does at start: libcurl set up once before any thread runs, and a peer
// that closes early must not kill the process.
int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
