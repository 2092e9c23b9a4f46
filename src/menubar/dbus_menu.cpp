#include "menubar/dbus_menu.h"

#include "menubar/dbus_menu_adaptor.h"

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
