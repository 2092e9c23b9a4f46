#include "menubar/dbus_menu_adaptor.h"

#include "menubar/dbus_menu.h"

#include <QDBusError>
#include <QDBusMetaType>

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenu* menu) : QDBusAbstractAdaptor(menu), menu_(menu) {
    qDBusRegisterMetaType<DBusMenuItem>();
    qDBusRegisterMetaType<DBusMenuItemList>();
    qDBusRegisterMetaType<DBusMenuItemKeys>();
    qDBusRegisterMetaType<DBusMenuItemKeysList>();
    qDBusRegisterMetaType<DBusMenuLayoutItem>();
    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEventList>();

    connect(menu, &DBusMenu::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
    connect(menu, &DBusMenu::itemsPropertiesUpdated, this,
            &DBusMenuAdaptor::ItemsPropertiesUpdated);
}

void DBusMenuAdaptor::refuseUnknownEntry(int id) {
    menu_->sendErrorReply(QDBusError::InvalidArgs,
                          QStringLiteral("no menu entry with id %1").arg(id));
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout) {
    const std::optional<DBusMenuLayoutItem> found =
        menu_->layout(parentId, recursionDepth, propertyNames);
    if (!found) {
        refuseUnknownEntry(parentId);
        return 0;
    }
    layout = *found;
    return menu_->revision();
}

QList<DBusMenuItem> DBusMenuAdaptor::GetGroupProperties(const QList<int>& ids,
                                                        const QStringList& propertyNames) {
    return menu_->groupProperties(ids, propertyNames);
}

QDBusVariant DBusMenuAdaptor::GetProperty(int id, const QString& name) {
    const std::optional<QVariant> value = menu_->property(id, name);
    if (!value) {
        menu_->sendErrorReply(QDBusError::InvalidArgs,
                              QStringLiteral("menu entry %1 has no property %2").arg(id).arg(name));
        return QDBusVariant(QVariant(QString()));
    }
    return QDBusVariant(*value);
}

void DBusMenuAdaptor::Event(int id, const QString& eventId, const QDBusVariant& /*data*/,
                            uint /*timestamp*/) {
    if (!menu_->handleEvent(id, eventId)) {
        refuseUnknownEntry(id);
    }
}

QList<int> DBusMenuAdaptor::EventGroup(const QList<DBusMenuEvent>& events) {
    QList<int> idErrors;
    for (const DBusMenuEvent& event : events) {
        if (!menu_->handleEvent(event.id, event.eventId)) {
            idErrors.append(event.id);
        }
    }
    return idErrors;
}

bool DBusMenuAdaptor::AboutToShow(int id) {
    if (!menu_->hasEntry(id)) {
        refuseUnknownEntry(id);
        return false;
    }
    // Opening the root is the moment to bring the rows (the quote's age) up to date.
    return id == DBusMenu::rootId && menu_->prepareToShow();
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    idErrors.clear();
    QList<int> updatesNeeded;
    for (const int id : ids) {
        if (!menu_->hasEntry(id)) {
            idErrors.append(id);
        } else if (id == DBusMenu::rootId && menu_->prepareToShow()) {
            updatesNeeded.append(id);
        }
    }
    return updatesNeeded;
}
