#pragma once

#include "menubar/menu_bar_controller.h"

#include <QDBusConnection>
#include <QString>

#include <memory>
#include <optional>

// The panel agent: a resident application with no window and no taskbar entry of its own,
// whose one controller lives as long as the process.
class BrimwellTickerApp : public QObject {
    Q_OBJECT

public:
    enum class Host { statusNotifierItem, systemTray };

    // A desktop session to show an item in: an X or Wayland display, or a Qt platform
    // named outright.
    static bool desktopSession();
    // The panel item this session offers, best first; nullopt when there is none. Needs
    // the QApplication.
    static std::optional<Host> availableHost(const QDBusConnection& bus);
    // The one line on stderr that says how the price is shown.
    static QString announcement(Host host);
    // The icon for IconName: the installed theme icon's name, or else the icon written to
    // a file of the user's runtime directory.
    static QString iconName();

    // Builds the controller, with the item for `host`; `parts.makeStatusItem` is filled in
    // here.
    BrimwellTickerApp(Host host, QDBusConnection bus, MenuBarController::Parts parts);

    // False when the item could not be put up (the bus refused it).
    bool itemShown() const { return itemShown_; }
    MenuBarController& controller() { return *controller_; }

signals:
    void quitRequested();

private:
    std::unique_ptr<MenuBarController> controller_;
    bool itemShown_ = true;
};
