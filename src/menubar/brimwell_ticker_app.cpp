#include "brimwell_ticker_app.h"

#include "menubar/sni_status_item.h"
#include "menubar/ticker_icon.h"
#include "menubar/tray_status_item.h"
#include "single_instance.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QSystemTrayIcon>

bool BrimwellTickerApp::desktopSession() {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM");
}

std::optional<BrimwellTickerApp::Host>
BrimwellTickerApp::availableHost(const QDBusConnection& bus) {
    if (bus.isConnected() && StatusNotifierItem::watcherPresent(bus)) {
        return Host::statusNotifierItem;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        return Host::systemTray;
    }
    return std::nullopt;
}

QString BrimwellTickerApp::announcement(Host host) {
    switch (host) {
    case Host::statusNotifierItem:
        return "brimwell-ticker: showing the price in the panel as a StatusNotifierItem";
    case Host::systemTray:
        return "brimwell-ticker: no StatusNotifierItem host on the session bus; showing the "
               "price as a system tray icon";
    }
    return {};
}

QString BrimwellTickerApp::iconName() {
    const QString themed = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, "icons/hicolor/scalable/apps/brimwell-ticker.svg");
    if (!themed.isEmpty()) {
        return "brimwell-ticker";
    }
    // Not installed: hosts that load icons by name or path only get a file of their own.
    const QString directory = QFileInfo(SingleInstance::defaultPath()).absolutePath();
    const QString path = directory + "/brimwell-ticker-icon.svg";
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        file.write(TickerIcon::svg());
        return QFileInfo(path).absoluteFilePath();
    }
    return "brimwell-ticker";
}

BrimwellTickerApp::BrimwellTickerApp(Host host, QDBusConnection bus,
                                     MenuBarController::Parts parts) {
    // The popover closing must not end the process.
    QApplication::setQuitOnLastWindowClosed(false);
    parts.makeStatusItem = [this, host, bus]() -> std::unique_ptr<StatusItem> {
        if (host == Host::systemTray) {
            return std::make_unique<TrayStatusItem>();
        }
        auto item = std::make_unique<SniStatusItem>(bus, iconName());
        itemShown_ = item->start();
        return item;
    };
    controller_ = std::make_unique<MenuBarController>(std::move(parts));
    connect(controller_.get(), &MenuBarController::quitRequested, this,
            &BrimwellTickerApp::quitRequested);
}
