// A transfer on a worker thread leaves none of OpenSSL's per-thread state behind it (random
// generators, error queue). The program's workers are detached threads; one still tearing
// its state down when the process ends would leave it unreleased, which is what the
// sanitizer's leak check at exit sees.
//
// OpenSSL's allocations are counted per allocating thread, so this binary has its own
// main: the counting functions must be in place before OpenSSL allocates anything.

#include "log_capture.h"
#include "price/providers/mempool_space_provider.h"
#include "raw_tls_server.h"
#include "test_ca.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/crypto.h>

#include <array>
#include <atomic>
#include <csignal>
#include <cstdlib>
#include <thread>

namespace {

// Bytes OpenSSL holds, by the thread that allocated them (threads beyond the table share
// its last entry).
std::array<std::atomic<long long>, 64> heldBytes;
std::atomic<int> threadsSeen{0};

int threadSlot() {
    thread_local const int slot = std::min(threadsSeen++, static_cast<int>(heldBytes.size()) - 1);
    return slot;
}

// Each block starts with who allocated it and its size.
struct alignas(std::max_align_t) BlockHeader {
    int slot;
    std::size_t size;
};

void* countedMalloc(std::size_t size, const char*, int) {
    auto* header = static_cast<BlockHeader*>(std::malloc(sizeof(BlockHeader) + size));
    if (!header) {
        return nullptr;
    }
    *header = {threadSlot(), size};
    heldBytes[static_cast<std::size_t>(header->slot)] += static_cast<long long>(size);
    return header + 1;
}

void countedFree(void* block, const char*, int) {
    if (!block) {
        return;
    }
    auto* header = static_cast<BlockHeader*>(block) - 1;
    heldBytes[static_cast<std::size_t>(header->slot)] -= static_cast<long long>(header->size);
    std::free(header);
}

void* countedRealloc(void* block, std::size_t size, const char* file, int line) {
    if (!block) {
        return countedMalloc(size, file, line);
    }
    auto* header = static_cast<BlockHeader*>(block) - 1;
    const BlockHeader old = *header;
    auto* moved = static_cast<BlockHeader*>(std::realloc(header, sizeof(BlockHeader) + size));
    if (!moved) {
        return nullptr;
    }
    heldBytes[static_cast<std::size_t>(old.slot)] -= static_cast<long long>(old.size);
    *moved = {threadSlot(), size};
    heldBytes[static_cast<std::size_t>(moved->slot)] += static_cast<long long>(size);
    return moved + 1;
}

// A server that answers every request with a price, and the options that send the
// provider there.
struct PriceServer {
    TestCa ca;
    RawTlsServer server{ca.issue({"mempool.space"}), [](RawTlsServer::Connection& connection) {
                            if (connection.handshake() && !connection.readRequest().empty()) {
                                connection.send("HTTP/1.1 200 OK\r\nContent-Length: 13\r\n\r\n"
                                                R"({"USD":67000})");
                            }
                        }};

    RequestOptions options(int port) const {
        RequestOptions options;
        options.connectTo = {"mempool.space:443:127.0.0.1:" + std::to_string(port)};
        options.caFile = ca.certificatePath();
        return options;
    }
};

TEST(TransferThreadTest, aTransferLeavesNoOpenSslStateInItsThread) {
    const PriceServer services;
    const MempoolSpaceProvider provider(services.options(services.server.port()));
    const MempoolSpaceProvider refused(services.options(refusingPort()));
    // What OpenSSL keeps for the whole process is set up by the first transfer anywhere.
    ASSERT_TRUE(provider.fetchPrice());

    for (const bool succeeds : {true, false}) {
        const LogCapture log;
        long long left = -1;
        std::thread worker([&] {
            const auto result = succeeds ? provider.fetchPrice() : refused.fetchPrice();
            EXPECT_EQ(result.has_value(), succeeds);
            left = heldBytes[static_cast<std::size_t>(threadSlot())];
        });
        worker.join();
        EXPECT_EQ(left, 0) << (succeeds ? "after a price" : "after a refused connection");
    }
}

} // namespace

int main(int argc, char** argv) {
    if (!CRYPTO_set_mem_functions(countedMalloc, countedRealloc, countedFree)) {
        std::fprintf(stderr, "OpenSSL allocated before main\n");
        return 1;
    }
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    curl_global_cleanup();
    return result;
}
