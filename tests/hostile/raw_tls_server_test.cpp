// The raw test server itself must hold out for as long as a soak runs: a connection that
// has ended leaves no thread behind.

#include "local_price_services.h"
#include "log_capture.h"
#include "price/providers/mempool_space_provider.h"
#include "process_snapshot.h"
#include "raw_tls_server.h"

#include <gtest/gtest.h>

#include <unistd.h>

namespace {

// A thread that has ended but was never joined keeps its stack mapped: 8 MiB of address
// space each.
long mappedKiB() {
    const auto snapshot = ProcessSnapshot::of(::getpid());
    return snapshot ? snapshot->virtualKiB : 0;
}

TEST(RawTlsServerTest, endedConnectionsLeaveNoThreads) {
    LocalPriceServices services;
    RawTlsServer server(services.certificate(), [](RawTlsServer::Connection& connection) {
        if (connection.handshake() && !connection.readRequest().empty()) {
            connection.reset();
        }
    });
    const MempoolSpaceProvider provider(services.optionsForPort(server.port()));
    const LogCapture log;
    ASSERT_FALSE(provider.fetchPrice()); // the accept thread and the first worker exist
    const long before = mappedKiB();
    for (int i = 0; i < 50; ++i) {
        ASSERT_FALSE(provider.fetchPrice());
    }
    EXPECT_EQ(server.connectionCount(), 51);
    // Room for a few stacks in flight, not for fifty.
    EXPECT_LT(mappedKiB() - before, 5 * 8 * 1024);
}

} // namespace
