// Stores records through the last-price cache one after another, for tests that interrupt
// it or run several at once. Record n has usd n, a timestamp n seconds after 2025-01-01
// 00:00:00 UTC and the given source; once its store has returned, "n" and a line break go
// to stdout.
//
//   cache_store_loop SETTINGS_FILE SOURCE FIRST [COUNT]     (no COUNT: until killed)

#include "fetch/last_price_cache.h"
#include "fetch/settings_file.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 4 && argc != 5) {
        std::fprintf(stderr, "usage: %s SETTINGS_FILE SOURCE FIRST [COUNT]\n", argv[0]);
        return 2;
    }
    using namespace std::chrono;
    const BitcoinPrice::Clock::time_point newYear2025{sys_days{2025y / 1 / 1}.time_since_epoch()};
    LastPriceCache cache{SettingsFile(QString::fromLocal8Bit(argv[1]))};
    const std::string source = argv[2];
    const long long first = std::stoll(argv[3]);
    const long long count = argc == 5 ? std::stoll(argv[4]) : -1;
    for (long long n = first; count < 0 || n < first + count; ++n) {
        cache.store({static_cast<double>(n), newYear2025 + seconds(n), source});
        const std::string done = std::to_string(n) + "\n";
        if (::write(STDOUT_FILENO, done.data(), done.size()) != static_cast<ssize_t>(done.size())) {
            return 1;
        }
    }
    return 0;
}
