// brimwell-ticker-panel: the agent's GUI, started by the agent only when something must be
// drawn, so that the agent itself maps no GUI library.
//   brimwell-ticker-panel --popover X Y   the popover near (X, Y); ends when it closes
//   brimwell-ticker-panel --tray          the classic tray icon with its menu and popover;
//                                         ends with status 3 when the display has no tray
// Both read the agent's state from org.brimwell.Ticker1 and end when the agent goes.
#include "bus/ticker_bus.h"
#include "panel/desktop_color_scheme.h"
#include "panel/popover_placement.h"
#include "panel/price_popover_view.h"
#include "panel/tray_status_item.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <memory>

namespace {

auto systemClock() {
    return [] {
        return std::chrono::system_clock::now();
    };
}

// How long to wait for the agent's first answer before giving up.
constexpr int agentAnswerMs = 3000;
// How long the first show waits for the desktop's colour scheme: a running portal answers
// in a few milliseconds, one that is being started may take a second.
constexpr std::chrono::milliseconds colorSchemeLimit(100);

// X11 where there is an X display, also beside a Wayland one (XWayland): there the popover
// opens next to the item, which a Wayland client cannot ask for; Wayland where there is
// none. A platform the user named stays, unless it is Wayland while X11 is at hand.
void choosePlatform() {
    const QByteArray named = qgetenv("QT_QPA_PLATFORM");
    if (!named.isEmpty() && !named.startsWith("wayland")) {
        return;
    }
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (x11) {
        qputenv("QT_QPA_PLATFORM", wayland ? "xcb;wayland" : "xcb");
    } else if (wayland) {
        qputenv("QT_QPA_PLATFORM", "wayland");
    }
}

} // namespace

int main(int argc, char** argv) {
    const bool tray = argc == 2 && std::strcmp(argv[1], "--tray") == 0;
    const bool popover = argc == 4 && std::strcmp(argv[1], "--popover") == 0;
    if (!tray && !popover) {
        std::fprintf(stderr, "usage: brimwell-ticker-panel --popover X Y | --tray\n"
                             "(started by brimwell-ticker; not meant to be run by hand)\n");
        return 2;
    }
    choosePlatform();
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (tray && !QSystemTrayIcon::isSystemTrayAvailable()) {
        return TickerBus::noTrayExitStatus;
    }

    RemoteFeed feed(QDBusConnection::sessionBus());
    QObject::connect(&feed, &RemoteFeed::availableChanged, &app, [&](bool available) {
        if (!available) {
            app.exit(0);
        }
    });
    QTimer::singleShot(agentAnswerMs, &app, [&] {
        if (!feed.available()) {
            std::fprintf(stderr, "brimwell-ticker-panel: the agent does not answer\n");
            app.exit(1);
        }
    });

    PricePopoverView view(feed, QLocale::system(), systemClock(), PriceHistory());
    DesktopColorScheme scheme(QDBusConnection::sessionBus(), colorSchemeLimit);
    QObject::connect(&scheme, &DesktopColorScheme::changed, &view,
                     [&] { view.setColorScheme(scheme.preference()); });
    // Ends when the agent has gone (above), so that the call surely reached it.
    const auto quit = [&] {
        feed.quit();
        QTimer::singleShot(agentAnswerMs, &app, [&] { app.exit(0); });
    };
    QObject::connect(&view, &PricePopoverView::quitRequested, &app, quit);
    std::unique_ptr<TrayStatusItem> trayItem;
    bool shown = false;
    if (popover) {
        const QPoint at(std::atoi(argv[2]), std::atoi(argv[3]));
        // Shown once the agent's state is in, so it never flashes "Fetching...", and in the
        // desktop's colours.
        const auto showOnce = [&, at] {
            if (!shown && feed.available() && scheme.settled()) {
                shown = true;
                view.showAt(fromDevicePixels(at));
            }
        };
        QObject::connect(&feed, &RemoteFeed::availableChanged, &view, showOnce);
        QObject::connect(&scheme, &DesktopColorScheme::changed, &view, showOnce);
        QObject::connect(&view, &PricePopoverView::closed, &app, [&] { app.exit(0); });
    } else {
        std::fprintf(stderr, "brimwell-ticker: no StatusNotifierItem host on the session bus; "
                             "showing the price as a system tray icon\n");
        trayItem = std::make_unique<TrayStatusItem>(feed, QLocale::system(), systemClock());
        QObject::connect(trayItem.get(), &TrayStatusItem::quitRequested, &app, quit);
        QObject::connect(trayItem.get(), &TrayStatusItem::toggleRequested, &view, [&](QPoint at) {
            if (view.isVisible()) {
                view.close();
            } else {
                view.showAt(at);
            }
        });
    }
    return app.exec();
}
