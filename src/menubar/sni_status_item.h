#pragma once

#include "menubar/status_item.h"
#include "menubar/status_notifier_item.h"

#include <memory>

// The panel item as a StatusNotifierItem on the session bus: a text label for hosts that
// draw one, a menu for hosts that open one on a click, the popover for hosts that call
// Activate.
class SniStatusItem : public StatusItem {
    Q_OBJECT

public:
    SniStatusItem(QDBusConnection bus, QString iconName, QObject* parent = nullptr);

    // Registers on the bus; false when the bus refuses.
    bool start();

    void setTitle(const QString& title) override;
    void setDetails(const QString& title, const QStringList& rows) override;

    StatusNotifierItem& item() { return item_; }

private:
    StatusNotifierItem item_;
};
