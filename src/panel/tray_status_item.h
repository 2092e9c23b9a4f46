#pragma once

#include "view/ticker_feed.h"

#include <QLocale>
#include <QMenu>
#include <QPoint>
#include <QSystemTrayIcon>

// The panel item as a classic system tray icon, for desktops without a StatusNotifierItem
// host: the icon (muted while the price is stale), the title and rows in its tooltip, and
// the same menu as the D-Bus item.
class TrayStatusItem : public QObject {
    Q_OBJECT

public:
    TrayStatusItem(TickerFeed& feed, QLocale locale, LocalFeed::Clock clock,
                   QObject* parent = nullptr);

signals:
    // A click that shows or hides the popover; `at` is where on the screen (a hint).
    void toggleRequested(QPoint at);
    void quitRequested();

private:
    void update();

    TickerFeed& feed_;
    QLocale locale_;
    LocalFeed::Clock clock_;
    QSystemTrayIcon icon_;
    QMenu menu_;
    QList<QAction*> rowActions_;
    QAction* separator_;
    bool staleShown_ = false;
};
