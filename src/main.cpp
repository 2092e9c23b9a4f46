#include "price/providers/default_providers.h"

#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

namespace {

const char* const usage = "usage: brimwell-ticker [--connect-to HOST:PORT:HOST2:PORT2]... "
                          "[--cacert FILE] [--version] [--help]\n";

std::string describe(const PriceError& error) {
    if (const auto* failure = error.transferFailure()) {
        return "network: " + failure->description;
    }
    if (error.errorCase() == PriceError::Case::timeout) {
        return "timed out";
    }
    return error.text();
}

} // namespace

int main(int argc, char** argv) {
    RequestOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        const bool takesValue = argument == "--connect-to" || argument == "--cacert";
        if (takesValue && i + 1 >= argc) {
            std::fprintf(stderr, "brimwell-ticker: %s needs a value\n%s", argv[i], usage);
            return 2;
        }
        if (argument == "--connect-to") {
            options.connectTo.emplace_back(argv[++i]);
        } else if (argument == "--cacert") {
            options.caFile = argv[++i];
        } else if (argument == "--version") {
            std::printf("brimwell-ticker %s\n", BRIMWELL_VERSION);
            return 0;
        } else if (argument == "--help") {
            std::fputs(usage, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "brimwell-ticker: unknown argument '%s'\n%s", argv[i], usage);
            return 2;
        }
    }

    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    // One fetch with each provider, in failover order.
    int failures = 0;
    for (const auto& provider : makeDefaultProviders(options)) {
        const auto price = provider->fetchPrice();
        if (price) {
            std::printf("%-16s %.2f\n", provider->name().c_str(), price->usd);
        } else {
            ++failures;
            std::printf("%-16s failed: %s\n", provider->name().c_str(),
                        describe(price.error()).c_str());
        }
    }
    std::fflush(stdout);
    return failures == 5 ? 1 : 0;
}
