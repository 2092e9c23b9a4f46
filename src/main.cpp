#include "agent/brimwell_ticker_app.h"
#include "bar/bar_stream.h"
#include "bar/shared_feed.h"
#include "bus/alert_notifications.h"
#include "command_line.h"
#include "fetch/settings_file.h"
#include "price/https_transfer.h"
#include "unix_signals.h"
#include "view/price_text.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QFutureWatcher>
#include <QLocale>
#include <QTimer>
#include <curl/curl.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

auto systemClock() {
    return [] {
        return std::chrono::system_clock::now();
    };
}

// Everything a front-end needs from the command line and the settings file.
struct Run {
    const CommandLine& commandLine;
    SettingsFile settings;

    // Read once, when first needed (a second agent that leaves at once reads nothing): the
    // whole run speaks one currency.
    const Currency& currency() const {
        if (!currency_) {
            currency_ = commandLine.currency ? *commandLine.currency : settings.currency();
        }
        return *currency_;
    }

    double interval() const { return commandLine.interval.value_or(settings.updateInterval()); }
    Providers providers() const { return makeDefaultProviders(commandLine.request, currency()); }
    LastPriceCache cache() const { return LastPriceCache(settings, currency()); }
    PriceHistory history() const { return PriceHistory().forCurrency(currency()); }

    // Alerts for the prices `fetcher` has and gets from now on.
    std::unique_ptr<AlertNotifications> alerts(const PriceFetcher& fetcher) const {
        const auto& known = fetcher.latestPrice();
        return std::make_unique<AlertNotifications>(
            QDBusConnection::sessionBus(), settings,
            AlertLevels{commandLine.alertAbove, commandLine.alertBelow},
            known ? std::optional(known->usd) : std::nullopt, QLocale::system(), currency());
    }

    mutable std::optional<Currency> currency_{}; // currency()'s, once read
};

// Ends the event loop without waiting for a request in flight to reach its time limit.
void quit(QCoreApplication& app, int status = 0) {
    HttpsTransfer::abortAll();
    app.exit(status);
}

// One pass, then the title on stdout; the failure text on stderr when every provider
// failed. Ended by a signal before that, it says so and exits with 128 + the signal.
int runOnce(QCoreApplication& app, const Run& run, UnixSignals& unixSignals) {
    PriceFetcher fetcher(run.providers(), run.cache(), run.currency());
    BarOutput output(BarFormat::plain, STDOUT_FILENO);
    int status = 0;
    QObject::connect(&unixSignals, &UnixSignals::refreshRequested, &fetcher,
                     &PriceFetcher::fetchWhenIdle);
    QObject::connect(
        &unixSignals, &UnixSignals::quitRequested, &app,
        [&] {
            const int number = UnixSignals::quitSignal();
            std::fprintf(stderr, "brimwell-ticker: ended by SIG%s before the pass was over\n",
                         sigabbrev_np(number));
            quit(app, 128 + number);
        },
        Qt::SingleShotConnection); // a second signal says nothing more
    const auto done = [&] {
        if (output.flushed()) {
            quit(app, status);
        }
    };
    QObject::connect(&output, &BarOutput::drained, &app, done);
    QObject::connect(&output, &BarOutput::closed, &app, [&] { quit(app, 1); });
    QFutureWatcher<void> pass;
    QObject::connect(&pass, &QFutureWatcherBase::finished, &app, [&] {
        if (fetcher.lastError()) {
            std::fprintf(stderr, "%s\n", qPrintable(*fetcher.lastError()));
            status = 1;
        }
        if (fetcher.latestPrice() && !fetcher.lastError()) {
            run.history().append(*fetcher.latestPrice(), std::chrono::system_clock::now());
        }
        output.write(statusItemTitle(fetcher.latestPrice(), QLocale::system()).toStdString());
        done();
    });
    pass.setFuture(fetcher.fetchOnce());
    return app.exec();
}

// A status bar's stream: the agent's state while one runs, else this process's own.
int runBar(QCoreApplication& app, const Run& run, BarFormat format, UnixSignals& unixSignals) {
    PriceFetcher fetcher(run.providers(), run.cache(), run.currency());
    const auto alerts = run.alerts(fetcher);
    SharedFeed feed(QDBusConnection::sessionBus(), fetcher, run.interval(), QLocale::system(),
                    systemClock(), run.history());
    QObject::connect(&feed, &SharedFeed::priceFetched, alerts.get(), &AlertNotifications::observe);
    // The agent alerts on the stored levels itself; an attached bar only on its own.
    QObject::connect(&feed, &SharedFeed::attachedChanged, alerts.get(),
                     [&](bool attached) { alerts->useSettingsLevels(!attached); });
    BarStream stream(feed, format, STDOUT_FILENO, QLocale::system(), systemClock());
    QObject::connect(&stream, &BarStream::outputClosed, &app, [&] { quit(app); });
    QObject::connect(&unixSignals, &UnixSignals::refreshRequested, &feed,
                     &SharedFeed::refreshWhenIdle);
    QObject::connect(&unixSignals, &UnixSignals::quitRequested, &app, [&] { quit(app); });
    return app.exec();
}

const char* const streamNotice = "streaming the title to stdout as with --bar=plain\n";

int runPanel(QCoreApplication& app, const Run& run, UnixSignals& unixSignals) {
    if (!BrimwellTickerApp::desktopSession()) {
        std::fprintf(stderr, "brimwell-ticker: no desktop session; %s", streamNotice);
        return runBar(app, run, BarFormat::plain, unixSignals);
    }
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        std::fprintf(stderr, "brimwell-ticker: no session bus; %s", streamNotice);
        return runBar(app, run, BarFormat::plain, unixSignals);
    }
    qint64 owner = 0;
    switch (TickerService::claim(bus, &owner)) {
    case TickerService::Claim::owned:
        break;
    case TickerService::Claim::taken:
        std::fprintf(stderr, "brimwell-ticker is already running (pid %lld)\n",
                     static_cast<long long>(owner));
        return 0;
    case TickerService::Claim::failed:
        std::fprintf(stderr,
                     "brimwell-ticker: cannot claim %s on the session bus; running "
                     "without it\n",
                     qPrintable(TickerBus::serviceName));
        break;
    }
    BrimwellTickerApp agent(bus, {run.providers(), run.cache(), run.currency(), run.interval(),
                                  QLocale::system(), systemClock(), run.history()});
    if (!agent.start()) {
        return 1;
    }
    PriceFetcher& fetcher = agent.controller().fetcher();
    const auto alerts = run.alerts(fetcher);
    QObject::connect(&fetcher, &PriceFetcher::priceFetched, alerts.get(),
                     &AlertNotifications::observe);
    QObject::connect(&agent, &BrimwellTickerApp::quitRequested, &app, [&] { quit(app); });
    QObject::connect(&agent, &BrimwellTickerApp::busGone, &app, [&] { quit(app, 1); });
    QObject::connect(&unixSignals, &UnixSignals::refreshRequested, &agent.controller().feed(),
                     &LocalFeed::refreshWhenIdle);
    QObject::connect(&unixSignals, &UnixSignals::quitRequested, &app, [&] { quit(app); });
    return app.exec();
}

} // namespace

int main(int argc, char** argv) {
    // First of all, so that no signal that comes during the start is lost or fatal.
    UnixSignals::install();
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

    // A peer that closes early must not end the process, nor a file size limit: the write
    // fails and is handled as any failed write. libcurl is set up before any worker thread
    // exists.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);

    int status = 0;
    {
        QCoreApplication app(argc, argv);
        UnixSignals unixSignals;
        const Run run{*commandLine, SettingsFile()};
        switch (commandLine->mode) {
        case CommandLine::Mode::once:
            status = runOnce(app, run, unixSignals);
            break;
        case CommandLine::Mode::bar:
            status = runBar(app, run, commandLine->barFormat, unixSignals);
            break;
        default:
            status = runPanel(app, run, unixSignals);
            break;
        }
    }
    // Every worker has ended with its fetcher; libcurl's TLS state goes last.
    curl_global_cleanup();
    return status;
}
