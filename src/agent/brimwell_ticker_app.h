#pragma once

#include "agent/menu_bar_controller.h"
#include "agent/panel_process.h"
#include "bus/ticker_bus.h"

#include <QDBusConnection>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>

// The panel agent: a resident process with no window and no GUI library of its own. It
// holds the one controller for the life of the process, publishes the state as
// org.brimwell.Ticker1, and shows the item in whatever the desktop offers: a
// StatusNotifierItem host, else a classic system tray (drawn by the GUI process), else
// nothing yet, waiting for a panel however late it comes.
class BrimwellTickerApp : public QObject {
    Q_OBJECT

public:
    // A desktop session to show an item in: an X or Wayland display, or a Qt platform
    // named outright.
    static bool desktopSession();

    // `bus` must be connected; the caller has claimed the service name, if it could.
    BrimwellTickerApp(QDBusConnection bus, MenuBarController::Parts parts);
    ~BrimwellTickerApp() override;

    // Puts the item up, or starts waiting for a host. False when the bus refused the item.
    bool start();

    MenuBarController& controller() { return *controller_; }

signals:
    void quitRequested();
    // The session bus connection is lost: the agent should end with a failure.
    void busGone();

private slots:
    void busLost();

private:
    bool showStatusItem();
    void waitForHost();
    void tryTray();
    void sayWaiting();
    // Tells the user, once, in a desktop notification, that nothing can show the item.
    void tellNoHost();

    QDBusConnection bus_;
    std::unique_ptr<MenuBarController> controller_;
    std::unique_ptr<TickerService> service_;
    PanelProcess tray_;
    QTimer trayRetry_;
    QTimer noHostNotice_;
    QElapsedTimer trayStarted_;
    bool waiting_ = false;
    bool saidWaiting_ = false;
};
