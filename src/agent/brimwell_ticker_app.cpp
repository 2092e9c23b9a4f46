#include "brimwell_ticker_app.h"

#include "bus/alert_notifications.h"
#include "bus/status_notifier_item.h"

#include <QDBusServiceWatcher>

#include <cstdio>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
// While waiting for a panel, how often a classic tray is looked for (a bus name says when a
// StatusNotifierItem host comes; a tray has no such sign that a process without a
// display connection could watch).
constexpr int trayRetryMs = 5000;
// How long a session may go without any place for the item before the user is told: at
// login the panel may start a few seconds after the agent.
constexpr int noHostNoticeMs = 15000;
// Longer than the GUI program takes to find out whether the display has a classic tray.
constexpr int trayLookMs = 3000;

void say(const char* line) {
    std::fprintf(stderr, "brimwell-ticker: %s\n", line);
}

} // namespace

bool BrimwellTickerApp::desktopSession() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

BrimwellTickerApp::BrimwellTickerApp(QDBusConnection bus, MenuBarController::Parts parts)
    : bus_(std::move(bus)) {
    const QLocale locale = parts.locale;
    controller_ = std::make_unique<MenuBarController>(std::move(parts));
    service_ = std::make_unique<TickerService>(bus_, controller_->feed(), locale);
    connect(controller_.get(), &MenuBarController::quitRequested, this,
            &BrimwellTickerApp::quitRequested);
    connect(controller_.get(), &MenuBarController::statusItemNotTaken, this,
            [] { say("no panel host took the item; it goes up again when the panel restarts"); });
    connect(service_.get(), &TickerService::quitRequested, this, &BrimwellTickerApp::quitRequested);
    // The popover's Refresh starts a pass at each press; the popover runs in the GUI
    // process, alone or with the classic tray icon.
    service_->setOwnGui([this] {
        QList<qint64> running;
        for (const qint64 pid : {controller_->popover().processId(), tray_.processId()}) {
            if (pid > 0) {
                running << pid;
            }
        }
        return running;
    });
    trayRetry_.setSingleShot(true);
    trayRetry_.setInterval(trayRetryMs);
    connect(&trayRetry_, &QTimer::timeout, this, &BrimwellTickerApp::tryTray);
    noHostNotice_.setSingleShot(true);
    noHostNotice_.setInterval(noHostNoticeMs);
    connect(&noHostNotice_, &QTimer::timeout, this, &BrimwellTickerApp::tellNoHost);
    connect(&tray_, &PanelProcess::finished, this, [this] {
        // No tray on the display, or the tray went away: look again later.
        if (waiting_) {
            sayWaiting();
            trayRetry_.start();
        }
    });
}

BrimwellTickerApp::~BrimwellTickerApp() = default;

bool BrimwellTickerApp::start() {
    // Without its bus the item is gone from the panel for good: better to end, so that a
    // service manager starts the agent again, than to live on unseen.
    bus_.connect(QString(), QStringLiteral("/org/freedesktop/DBus/Local"),
                 QStringLiteral("org.freedesktop.DBus.Local"), QStringLiteral("Disconnected"), this,
                 SLOT(busLost()));
    service_->start();
    // A watcher that comes later is watched for in any case: the item goes up then.
    const auto* watcherWatch = new QDBusServiceWatcher(
        watcherService, bus_, QDBusServiceWatcher::WatchForRegistration, this);
    connect(watcherWatch, &QDBusServiceWatcher::serviceRegistered, this, [this] {
        if (waiting_ && !showStatusItem()) {
            emit quitRequested();
        }
    });
    if (StatusNotifierItem::watcherPresent(bus_)) {
        return showStatusItem();
    }
    waitForHost();
    return true;
}

bool BrimwellTickerApp::showStatusItem() {
    waiting_ = false;
    noHostNotice_.stop();
    trayRetry_.stop();
    tray_.stop();
    if (!controller_->showStatusItem(bus_)) {
        say("the session bus refused the panel item");
        return false;
    }
    say("showing the price in the panel as a StatusNotifierItem");
    return true;
}

void BrimwellTickerApp::busLost() {
    say("lost the session bus; ending");
    emit busGone();
}

void BrimwellTickerApp::waitForHost() {
    waiting_ = true;
    noHostNotice_.start();
    tryTray();
}

void BrimwellTickerApp::tellNoHost() {
    if (!waiting_) {
        return;
    }
    // A GUI process that runs on has found a classic tray and shows the item there; a young
    // one may still be looking.
    if (tray_.isRunning()) {
        if (trayStarted_.elapsed() < trayLookMs) {
            noHostNotice_.start(trayLookMs);
        }
        return;
    }
    const bool gnome =
        qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(':').contains(QStringLiteral("GNOME"));
    const QString body =
        gnome ? QStringLiteral("GNOME shows it once the AppIndicator extension is on: install "
                               "gnome-shell-extension-appindicator and turn it on in Extensions.")
              : QStringLiteral("Add a status tray (notification area) to your panel, or show the "
                               "price in a status bar with brimwell-ticker --bar.");
    showDesktopNotification(bus_, QStringLiteral("No place in the panel for the bitcoin price"),
                            body + QStringLiteral(" The price appears as soon as there is one."));
}

void BrimwellTickerApp::tryTray() {
    // Only an X display has a classic tray; the GUI process says whether it found one.
    if (!waiting_) {
        return;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        sayWaiting();
    } else {
        trayStarted_.start();
        tray_.start({QStringLiteral("--tray")});
    }
}

void BrimwellTickerApp::sayWaiting() {
    if (!saidWaiting_) {
        saidWaiting_ = true;
        say("no panel item host or system tray yet; waiting for a panel to appear");
    }
}
