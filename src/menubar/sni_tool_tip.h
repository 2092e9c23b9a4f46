#pragma once

#include "menubar/sni_pixmap.h"

#include <QDBusArgument>
#include <QMetaType>
#include <QString>

// The StatusNotifierItem tool tip, D-Bus type (sa(iiay)ss): icon name, icon images,
// title and body text.
struct SniToolTip {
    QString iconName;
    SniPixmapList iconPixmaps;
    QString title;
    QString text;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip);

Q_DECLARE_METATYPE(SniToolTip)
