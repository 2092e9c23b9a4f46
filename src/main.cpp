#include "bar/bar_stream.h"
#include "command_line.h"
#include "fetch/price_fetcher.h"
#include "fetch/settings_file.h"
#include "menubar/status_item_title.h"
#include "price/https_transfer.h"
#include "price/providers/default_providers.h"
#include "unix_signals.h"

#include <QCoreApplication>
#include <QFutureWatcher>
#include <QLocale>
#include <curl/curl.h>

#include <csignal>
#include <cstdio>

namespace {

auto systemClock() {
    return [] {
        return std::chrono::system_clock::now();
    };
}

// One pass, then the title on stdout; the failure text on stderr when every provider
// failed.
int runOnce(QCoreApplication& app, PriceFetcher& fetcher) {
    QFutureWatcher<void> pass;
    QObject::connect(&pass, &QFutureWatcherBase::finished, &app, [&] {
        std::printf("%s\n", qPrintable(statusItemTitle(fetcher.latestPrice(), QLocale::system())));
        std::fflush(stdout);
        if (fetcher.lastError()) {
            std::fprintf(stderr, "%s\n", qPrintable(*fetcher.lastError()));
            app.exit(1);
        } else {
            app.exit(0);
        }
    });
    pass.setFuture(fetcher.fetchOnce());
    return app.exec();
}

int runBar(QCoreApplication& app, PriceFetcher& fetcher, BarFormat format, double interval) {
    BarStream stream(fetcher, format, stdout, QLocale::system(), systemClock());
    QObject::connect(&stream, &BarStream::outputClosed, &app, [&] { app.exit(0); });
    fetcher.startPolling(interval);
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    const auto commandLine = CommandLine::parse(std::vector<std::string>(argv + 1, argv + argc));
    if (!commandLine) {
        std::fprintf(stderr, "brimwell-ticker: %s\n%s", commandLine.error().c_str(),
                     CommandLine::usage);
        return 2;
    }
    if (commandLine->mode == CommandLine::Mode::help) {
        std::fputs(CommandLine::usage, stdout);
        return 0;
    }
    if (commandLine->mode == CommandLine::Mode::version) {
        std::printf("brimwell-ticker %s\n", BRIMWELL_VERSION);
        return 0;
    }

    // A peer that closes early must not end the process; libcurl is set up before any
    // worker thread exists.
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    QCoreApplication app(argc, argv);
    SettingsFile settings;
    PriceFetcher fetcher(makeDefaultProviders(commandLine->request), LastPriceCache(settings));

    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::refreshRequested, &fetcher,
                     [&] { fetcher.fetchOnce(); });
    QObject::connect(&unixSignals, &UnixSignals::quitRequested, &app, [&] {
        // A request in flight must not hold the exit up for its whole time limit.
        HttpsTransfer::abortAll();
        app.exit(0);
    });

    int status = 0;
    switch (commandLine->mode) {
    case CommandLine::Mode::once:
        status = runOnce(app, fetcher);
        break;
    case CommandLine::Mode::panel:
        std::fputs("brimwell-ticker: no panel to show the price in; streaming the title to "
                   "stdout as with --bar=plain\n",
                   stderr);
        [[fallthrough]];
    case CommandLine::Mode::bar:
        status = runBar(app, fetcher, commandLine->barFormat,
                        commandLine->interval.value_or(settings.updateInterval()));
        break;
    case CommandLine::Mode::help:
    case CommandLine::Mode::version:
        break;
    }
    HttpsTransfer::abortAll();
    return status;
}
