#include "dbus_types.h"

#include <QDBusMetaType>

namespace {

// A D-Bus structure of the given fields, in order.
template <typename... Fields>
QDBusArgument& write(QDBusArgument& argument, const Fields&... fields) {
    argument.beginStructure();
    (argument << ... << fields);
    argument.endStructure();
    return argument;
}

template <typename... Fields>
const QDBusArgument& read(const QDBusArgument& argument, Fields&... fields) {
    argument.beginStructure();
    (argument >> ... >> fields);
    argument.endStructure();
    return argument;
}

} // namespace

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
    return write(argument, pixmap.width, pixmap.height, pixmap.argb);
}
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
    return read(argument, pixmap.width, pixmap.height, pixmap.argb);
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip) {
    return write(argument, toolTip.iconName, toolTip.iconPixmaps, toolTip.title, toolTip.text);
}
const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip) {
    return read(argument, toolTip.iconName, toolTip.iconPixmaps, toolTip.title, toolTip.text);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item) {
    return write(argument, item.id, item.properties);
}
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item) {
    return read(argument, item.id, item.properties);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys) {
    return write(argument, keys.id, keys.properties);
}
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys) {
    return read(argument, keys.id, keys.properties);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event) {
    return write(argument, event.id, event.eventId, event.data, event.timestamp);
}
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event) {
    return read(argument, event.id, event.eventId, event.data, event.timestamp);
}

QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayoutItem& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayoutItem& child : item.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayoutItem& item) {
    argument.beginStructure();
    argument >> item.id >> item.properties;
    item.children.clear();
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        const QVariant value = child.variant();
        if (value.canConvert<QDBusArgument>()) {
            item.children.append(qdbus_cast<DBusMenuLayoutItem>(value.value<QDBusArgument>()));
        }
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

void registerDBusTypes() {
    qDBusRegisterMetaType<SniPixmap>();
    qDBusRegisterMetaType<SniPixmapList>();
    qDBusRegisterMetaType<SniToolTip>();
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<DBusMenuItemList>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<DBusMenuItemKeysList>();
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEventList>();
}
