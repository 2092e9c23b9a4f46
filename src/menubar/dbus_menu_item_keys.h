#pragma once

#include <QDBusArgument>
#include <QList>
#include <QMetaType>
#include <QStringList>

// Names of properties an entry no longer has, D-Bus type (ias).
struct DBusMenuItemKeys {
    int id = 0;
    QStringList properties;
};

using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);

Q_DECLARE_METATYPE(DBusMenuItemKeys)
