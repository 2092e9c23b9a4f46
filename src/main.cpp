#include "bar/bar_stream.h"
#include "command_line.h"
#include "fetch/price_fetcher.h"
#include "fetch/settings_file.h"
#include "menubar/brimwell_ticker_app.h"
#include "menubar/single_instance.h"
#include "menubar/status_item_title.h"
#include "price/https_transfer.h"
#include "price/providers/default_providers.h"
#include "unix_signals.h"

#include <QApplication>
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

// Everything a front-end needs from the command line and the settings file.
struct Run {
    const CommandLine& commandLine;
    SettingsFile settings;

    double interval() const { return commandLine.interval.value_or(settings.updateInterval()); }
    PriceFetcher::Providers providers() const { return makeDefaultProviders(commandLine.request); }
};

// Ends the event loop without waiting for a request in flight to reach its time limit.
void quit(QCoreApplication& app) {
    HttpsTransfer::abortAll();
    app.exit(0);
}

// Fetches and quits as the signals ask, whatever the front-end.
int exec(QCoreApplication& app, PriceFetcher& fetcher, const std::function<int()>& frontEnd) {
    UnixSignals unixSignals;
    QObject::connect(&unixSignals, &UnixSignals::refreshRequested, &fetcher,
                     [&] { fetcher.fetchOnce(); });
    QObject::connect(&unixSignals, &UnixSignals::quitRequested, &app, [&] { quit(app); });
    const int status = frontEnd();
    HttpsTransfer::abortAll();
    return status;
}

// --once, or a bar stream, on an application the caller made.
int runHeadless(QCoreApplication& app, const Run& run, CommandLine::Mode mode, BarFormat format) {
    PriceFetcher fetcher(run.providers(), LastPriceCache(run.settings));
    return exec(app, fetcher, [&] {
        return mode == CommandLine::Mode::once ? runOnce(app, fetcher)
                                               : runBar(app, fetcher, format, run.interval());
    });
}

const char* const streamNotice = "streaming the title to stdout as with --bar=plain\n";

int runPanel(int argc, char** argv, const Run& run) {
    if (!BrimwellTickerApp::desktopSession()) {
        std::fprintf(stderr, "brimwell-ticker: no desktop session; %s", streamNotice);
        QCoreApplication app(argc, argv);
        return runHeadless(app, run, CommandLine::Mode::bar, BarFormat::plain);
    }
    QApplication app(argc, argv);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    const auto host = BrimwellTickerApp::availableHost(bus);
    if (!host) {
        std::fprintf(stderr, "brimwell-ticker: no panel item host or system tray; %s",
                     streamNotice);
        return runHeadless(app, run, CommandLine::Mode::bar, BarFormat::plain);
    }
    SingleInstance instance;
    if (!instance.acquire()) {
        std::fprintf(stderr, "brimwell-ticker is already running (pid %lld)\n",
                     static_cast<long long>(instance.holder()));
        return 0;
    }
    std::fprintf(stderr, "%s\n", qPrintable(BrimwellTickerApp::announcement(*host)));
    BrimwellTickerApp agent(*host, bus,
                            {run.providers(),
                             LastPriceCache(run.settings),
                             run.interval(),
                             {},
                             QLocale::system(),
                             systemClock()});
    if (!agent.itemShown()) {
        std::fprintf(stderr, "brimwell-ticker: the session bus refused the panel item\n");
        return 1;
    }
    QObject::connect(&agent, &BrimwellTickerApp::quitRequested, &app, [&] { quit(app); });
    return exec(app, agent.controller().fetcher(), [&] { return app.exec(); });
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

    const Run run{*commandLine, SettingsFile()};
    int status = 0;
    if (commandLine->mode == CommandLine::Mode::panel) {
        status = runPanel(argc, argv, run);
    } else {
        QCoreApplication app(argc, argv);
        status = runHeadless(app, run, commandLine->mode, commandLine->barFormat);
    }
    // Every worker has ended with its fetcher; libcurl's TLS state goes last.
    curl_global_cleanup();
    return status;
}
