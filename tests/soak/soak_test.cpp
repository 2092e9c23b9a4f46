// The agent as a status bar runs it (brimwell-ticker --bar), polling back to back
// (--interval 0) against services that answer with a random mix of fast failures and good
// prices, for many passes. It must not crash; its open descriptors and threads must come
// back to where they were after the first pass; its resident memory must not creep; and
// every title it prints must be a price that a service really sent in a good answer.
//
// BRIMWELL_SOAK_PASSES sets the number of passes (2000 unless set); BRIMWELL_SOAK_SEED
// replays a run's choice of answers.

#include "child_process.h"
#include "local_price_services.h"
#include "process_snapshot.h"
#include "raw_tls_server.h"
#include "sanitizer_build.h"
#include "soak_server.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// A pass meets only fast answers; one that has not begun after this long means the agent
// has stopped polling.
constexpr auto stallLimit = 30s;
// Growth of the resident memory allowed between the memory checkpoint and the end.
constexpr long residentGrowthLimitKiB = 2 * 1024;
// The fetcher's own pool runs the provider calls on at most this many threads. Qt starts
// another when the next call comes before the last one's thread is back in the pool, and
// keeps an idle thread for half a minute, which at --interval 0 none ever is: how many
// there are at a given moment is chance, within this bound.
constexpr int poolThreadLimit = 4;
const char* const poolThreadName = "Thread (pooled)";

int fromEnvironment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::atoi(text) : fallback;
}

// The title the agent shows for a price: the bitcoin sign and whole dollars grouped by
// commas. Every price served is a whole number and a quarter, so no rounding rule matters.
std::string titleOf(double usd) {
    std::string digits = std::to_string(static_cast<long long>(std::floor(usd)));
    for (auto at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<std::size_t>(at), ",");
    }
    return "\u20bf " + digits;
}

std::vector<std::string> linesOf(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// The agent's threads: how many of the pool, and the others by name.
struct Threads {
    int pooled = 0;
    std::multiset<std::string> others;

    explicit Threads(const ProcessSnapshot& snapshot) {
        for (const std::string& name : snapshot.threadNames) {
            if (name == poolThreadName) {
                ++pooled;
            } else {
                others.insert(name);
            }
        }
    }
};

// The agent's open descriptors by kind: what they refer to, without the inode numbers of
// sockets and pipes (a new connection gets a new one), and without the event descriptor
// that each thread of the pool has for its event loop.
std::multiset<std::string> descriptorKinds(const ProcessSnapshot& snapshot) {
    std::multiset<std::string> kinds;
    for (const std::string& target : snapshot.descriptors) {
        const auto bracket = target.find(":[");
        kinds.insert(bracket != std::string::npos &&
                             std::isdigit(static_cast<unsigned char>(target[bracket + 2]))
                         ? target.substr(0, bracket)
                         : target);
    }
    for (int pooled = Threads(snapshot).pooled; pooled > 0; --pooled) {
        const auto eventDescriptor = kinds.find("anon_inode:[eventfd]");
        if (eventDescriptor != kinds.end()) {
            kinds.erase(eventDescriptor);
        }
    }
    return kinds;
}

std::string describe(const ProcessSnapshot& snapshot) {
    std::ostringstream out;
    const Threads threads(snapshot);
    out << snapshot.residentKiB << " KiB resident, " << snapshot.descriptors.size()
        << " descriptors, " << snapshot.threadNames.size() << " threads (" << threads.pooled
        << " pooled)";
    return out.str();
}

TEST(SoakTest, manyPassesOfFailuresAndPricesLeaveNoTrace) {
    const int passes = fromEnvironment("BRIMWELL_SOAK_PASSES", 2000);
    const auto seed = static_cast<unsigned>(
        fromEnvironment("BRIMWELL_SOAK_SEED", static_cast<int>(std::random_device()() >> 1)));
    ASSERT_GE(passes, 4);
    SCOPED_TRACE("BRIMWELL_SOAK_SEED=" + std::to_string(seed));

    // Where the agent is looked at: after the first pass (the starting counts), at pass
    // 500 (the memory reference; halfway in a shorter run) and after the last pass. The
    // agent is then waiting for the first answer of the next pass.
    const int startPass = 2;
    const int memoryPass = std::min(500, passes / 2 + 1);
    const int endPass = passes + 1;

    LocalPriceServices services;
    SoakServer server(services.certificate(), seed, {startPass, memoryPass, endPass});
    const int refused = refusingPort();

    const TempDir home;
    const fs::path out = home.path() / "stdout";
    const fs::path err = home.path() / "stderr";
    const int outFd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(outFd, 0);
    ASSERT_GE(errFd, 0);

    ChildProcess::Start start;
    start.arguments = {
        BRIMWELL_BINARY, "--bar", "--interval", "0", "--cacert", services.ca().certificatePath()};
    for (const std::string& host : LocalPriceServices::hostNames()) {
        const int port = host == "api.coinbase.com" ? refused : server.port();
        start.arguments.push_back("--connect-to");
        start.arguments.push_back(host + ":443:127.0.0.1:" + std::to_string(port));
    }
    start.environment = {{"XDG_CONFIG_HOME", (home.path() / "config").string()},
                         {"LC_ALL", "C.UTF-8"},
                         {"LANG", "C.UTF-8"},
                         {"DISPLAY", std::nullopt},
                         {"WAYLAND_DISPLAY", std::nullopt},
                         {"QT_QPA_PLATFORM", std::nullopt},
                         {"DBUS_SESSION_BUS_ADDRESS", std::nullopt}};
    start.standardOutput = outFd;
    start.standardError = errFd;
    const auto began = std::chrono::steady_clock::now();
    ChildProcess agent(start);
    ::close(outFd);
    ::close(errFd);

    // Looks at the agent while the server holds the request of `pass`.
    const auto lookAt = [&](int pass) -> std::optional<ProcessSnapshot> {
        if (!server.waitForHold(pass, stallLimit)) {
            ADD_FAILURE() << "the agent stopped polling after pass " << server.passes()
                          << (agent.wait(0ms) ? " and has ended" : "");
            return std::nullopt;
        }
        auto snapshot = ProcessSnapshot::of(agent.pid());
        if (!snapshot) {
            ADD_FAILURE() << "cannot read /proc for the agent";
        }
        return snapshot;
    };

    const auto first = lookAt(startPass);
    ASSERT_TRUE(first);
    server.release();
    const auto reference = lookAt(memoryPass);
    ASSERT_TRUE(reference);
    server.release();
    const auto last = lookAt(endPass);
    ASSERT_TRUE(last);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    // Ends cleanly while a request is still open.
    agent.signal(SIGTERM);
    const auto status = agent.wait(10s);
    ASSERT_TRUE(status) << "the agent did not end on SIGTERM";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "wait status " << *status;

    // Descriptors and threads are back where they were after the first pass.
    EXPECT_EQ(descriptorKinds(*last), descriptorKinds(*first));
    const Threads firstThreads(*first);
    const Threads lastThreads(*last);
    EXPECT_EQ(lastThreads.others, firstThreads.others);
    EXPECT_GE(lastThreads.pooled, 1);
    EXPECT_LE(lastThreads.pooled, poolThreadLimit);
    // Memory does not creep.
    const long growthKiB = last->residentKiB - reference->residentKiB;
    if (residentMemoryIsMeaningful) {
        EXPECT_LT(growthKiB, residentGrowthLimitKiB)
            << "from " << reference->residentKiB << " KiB at pass " << memoryPass << " to "
            << last->residentKiB << " KiB at pass " << endPass;
    }

    // Every title is a price that was sent in a good answer, and the last is the last one
    // sent.
    const std::vector<double> prices = server.goodPrices();
    ASSERT_FALSE(prices.empty());
    std::set<std::string> served;
    for (const double usd : prices) {
        served.insert(titleOf(usd));
    }
    const auto titles = linesOf(out);
    ASSERT_GE(titles.size(), 2u);
    EXPECT_EQ(titles.front(), "\u20bf ...");
    for (std::size_t i = 1; i < titles.size(); ++i) {
        EXPECT_TRUE(served.contains(titles[i])) << "line " << i + 1 << ": " << titles[i];
    }
    EXPECT_EQ(titles.back(), titleOf(prices.back()));

    // One log line for every failure that is logged, and nothing else on stderr but the
    // line of the request cut short by the end.
    int logLines = 0;
    for (const std::string& line : linesOf(err)) {
        if (line.find("network error: aborted") != std::string::npos) {
            continue;
        }
        EXPECT_EQ(line.rfind("[ticker] ", 0), 0u) << line;
        ++logLines;
    }
    EXPECT_EQ(logLines, server.failuresToLog());

    int requests = 0;
    int faults = 0;
    std::string mix;
    for (const auto& [answer, count] : server.answers()) {
        requests += count;
        faults += answer == SoakServer::Answer::goodPrice ? 0 : count;
        mix += std::string(mix.empty() ? "" : ", ") + SoakServer::describe(answer) + " " +
               std::to_string(count);
    }
    std::printf("%d passes in %.0f s (seed %u); %d answers (%s), %d of them faults, and %d "
                "refused connections; "
                "%zu titles printed, %d log lines\n"
                "after the first pass: %s\nat pass %d:          %s\nafter the last pass:  %s\n"
                "resident memory grew %ld KiB from pass %d to the end\n",
                passes, seconds, seed, requests, mix.c_str(), faults, server.refusedConnections(),
                titles.size(), logLines, describe(*first).c_str(), memoryPass,
                describe(*reference).c_str(), describe(*last).c_str(), growthKiB, memoryPass);
}

} // namespace
