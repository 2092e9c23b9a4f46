#include "dbus_menu.h"

#include <QDBusError>

#include <algorithm>

namespace {

// A single underscore marks a mnemonic; row texts (an error name, say) may hold one.
QString literalLabel(QString text) {
    return text.replace(QLatin1Char('_'), QStringLiteral("__"));
}

QVariantMap onlyNamed(const QVariantMap& properties, const QStringList& names) {
    if (names.isEmpty()) {
        return properties;
    }
    QVariantMap chosen;
    for (const QString& name : names) {
        const auto found = properties.constFind(name);
        if (found != properties.constEnd()) {
            chosen.insert(name, found.value());
        }
    }
    return chosen;
}

DBusMenuItem rootEntry() {
    return {DBusMenu::rootId, {{QStringLiteral("children-display"), QStringLiteral("submenu")}}};
}

} // namespace

DBusMenu::DBusMenu(QObject* parent) : QObject(parent) {
    new DBusMenuAdaptor(this);
}

void DBusMenu::setInfoRows(const QStringList& rows) {
    if (rows == infoRows_) {
        return;
    }
    const DBusMenuItemList before = entries();
    infoRows_ = rows;
    ++revision_;
    const DBusMenuItemList after = entries();

    const bool sameEntries = std::ranges::equal(
        before, after, [](const DBusMenuItem& a, const DBusMenuItem& b) { return a.id == b.id; });
    if (!sameEntries) {
        emit layoutUpdated(revision_, rootId);
        return;
    }
    DBusMenuItemList changed;
    for (qsizetype i = 0; i < after.size(); ++i) {
        if (after[i].properties != before[i].properties) {
            changed.append(after[i]);
        }
    }
    emit itemsPropertiesUpdated(changed, {});
}

DBusMenuItemList DBusMenu::entries() const {
    DBusMenuItemList list;
    for (qsizetype i = 0; i < infoRows_.size(); ++i) {
        list.append({firstInfoRowId + int(i),
                     {{QStringLiteral("label"), literalLabel(infoRows_[i])},
                      {QStringLiteral("enabled"), false}}});
    }
    // A separator with nothing above it would only be a stray line at the top.
    if (!infoRows_.isEmpty()) {
        list.append({separatorId, {{QStringLiteral("type"), QStringLiteral("separator")}}});
    }
    list.append({refreshId,
                 {{QStringLiteral("label"), QStringLiteral("Refresh")},
                  {QStringLiteral("enabled"), true}}});
    list.append(
        {quitId,
         {{QStringLiteral("label"), QStringLiteral("Quit")}, {QStringLiteral("enabled"), true}}});
    return list;
}

std::optional<DBusMenuItem> DBusMenu::entry(int id) const {
    if (id == rootId) {
        return rootEntry();
    }
    for (const DBusMenuItem& item : entries()) {
        if (item.id == id) {
            return item;
        }
    }
    return std::nullopt;
}

bool DBusMenu::hasEntry(int id) const {
    return entry(id).has_value();
}

std::optional<DBusMenuLayoutItem> DBusMenu::layout(int parentId, int depth,
                                                   const QStringList& names) const {
    const std::optional<DBusMenuItem> parent = entry(parentId);
    if (!parent) {
        return std::nullopt;
    }
    DBusMenuLayoutItem node{parent->id, onlyNamed(parent->properties, names), {}};
    // Only the root has entries below it.
    if (parentId == rootId && depth != 0) {
        for (const DBusMenuItem& item : entries()) {
            node.children.append({item.id, onlyNamed(item.properties, names), {}});
        }
    }
    return node;
}

DBusMenuItemList DBusMenu::groupProperties(const QList<int>& ids, const QStringList& names) const {
    DBusMenuItemList chosen;
    if (ids.isEmpty()) {
        chosen.append(rootEntry());
        chosen.append(entries());
    } else {
        for (const int id : ids) {
            if (const std::optional<DBusMenuItem> item = entry(id)) {
                chosen.append(*item);
            }
        }
    }
    for (DBusMenuItem& item : chosen) {
        item.properties = onlyNamed(item.properties, names);
    }
    return chosen;
}

std::optional<QVariant> DBusMenu::property(int id, const QString& name) const {
    const std::optional<DBusMenuItem> item = entry(id);
    if (!item) {
        return std::nullopt;
    }
    const auto found = item->properties.constFind(name);
    if (found == item->properties.constEnd()) {
        return std::nullopt;
    }
    return found.value();
}

bool DBusMenu::handleEvent(int id, const QString& eventId) {
    if (!hasEntry(id)) {
        return false;
    }
    if (id == rootId &&
        (eventId == QLatin1String("opened") || eventId == QLatin1String("closed"))) {
        // Said every time: a host that showed the menu without "opened" may still say
        // "closed".
        emit openChanged(eventId == QLatin1String("opened"));
    }
    if (eventId == QLatin1String("clicked")) {
        if (id == refreshId) {
            emit refreshClicked();
        } else if (id == quitId) {
            emit quitClicked();
        }
    }
    return true;
}

bool DBusMenu::prepareToShow() {
    const uint before = revision_;
    emit aboutToShow();
    return revision_ != before;
}

DBusMenuAdaptor::DBusMenuAdaptor(DBusMenu* menu) : QDBusAbstractAdaptor(menu), menu_(menu) {
    registerDBusTypes();

    connect(menu, &DBusMenu::layoutUpdated, this, &DBusMenuAdaptor::LayoutUpdated);
    connect(menu, &DBusMenu::itemsPropertiesUpdated, this,
            &DBusMenuAdaptor::ItemsPropertiesUpdated);
}

void DBusMenuAdaptor::refuseUnknownEntry(int id) {
    menu_->sendErrorReply(QDBusError::InvalidArgs,
                          QStringLiteral("no menu entry with id %1").arg(id));
}

bool DBusMenuAdaptor::acceptLengths(std::initializer_list<qsizetype> lengths) {
    for (const qsizetype length : lengths) {
        if (length > DBusMenu::maxListLength) {
            menu_->sendErrorReply(QDBusError::InvalidArgs,
                                  QStringLiteral("a list of %1 entries; a menu has at most %2")
                                      .arg(length)
                                      .arg(DBusMenu::maxListLength));
            return false;
        }
    }
    return true;
}

uint DBusMenuAdaptor::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                                DBusMenuLayoutItem& layout) {
    if (!acceptLengths({propertyNames.size()})) {
        return 0;
    }
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
    if (!acceptLengths({ids.size(), propertyNames.size()})) {
        return {};
    }
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
    if (!acceptLengths({events.size()})) {
        return idErrors;
    }
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
    // The moment to bring the rows (the quote's age) up to date; only the root has entries.
    return menu_->prepareToShow() && id == DBusMenu::rootId;
}

QList<int> DBusMenuAdaptor::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    idErrors.clear();
    QList<int> updatesNeeded;
    if (!acceptLengths({ids.size()})) {
        return updatesNeeded;
    }
    bool shown = false;
    for (const int id : ids) {
        if (!menu_->hasEntry(id)) {
            idErrors.append(id);
        } else {
            shown = true;
        }
    }
    // Some hosts ask only this, and never say "opened": it is the sign the menu shows.
    if (shown && menu_->prepareToShow() && ids.contains(DBusMenu::rootId)) {
        updatesNeeded.append(DBusMenu::rootId);
    }
    return updatesNeeded;
}
