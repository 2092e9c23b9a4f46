#pragma once

#include "menubar/status_item.h"

#include <QMenu>
#include <QSystemTrayIcon>

// The panel item as a classic system tray icon, for desktops without a StatusNotifierItem
// host: the icon, the title and rows in its tooltip, and the same menu as the D-Bus item.
class TrayStatusItem : public StatusItem {
    Q_OBJECT

public:
    explicit TrayStatusItem(QObject* parent = nullptr);

    void setTitle(const QString& title) override;
    void setDetails(const QString& title, const QStringList& rows) override;

private:
    QSystemTrayIcon icon_;
    QMenu menu_;
    QList<QAction*> rowActions_;
    QAction* separator_;
    QString title_;
    QStringList rows_;
};
