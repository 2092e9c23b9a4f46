#pragma once

#include "menubar/dbus_menu_item.h"
#include "menubar/dbus_menu_item_keys.h"
#include "menubar/dbus_menu_layout_item.h"

#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The item's small menu as the DBusMenu protocol describes it: a root (id 0) whose
// entries are the information rows (shown, not clickable), a separator when there are
// rows, "Refresh" and "Quit". Refresh and Quit keep their ids whatever rows come and go, so a click
// that a host sends for a layout it read a moment ago still means what the user saw.
class DBusMenu : public QObject, protected QDBusContext {
    Q_OBJECT
    // QtDBus keeps the context of a call on the exported object, not on its adaptor: the
    // adaptor answers errors through it.
    friend class DBusMenuAdaptor;

public:
    static constexpr int rootId = 0;
    static constexpr int refreshId = 1;
    static constexpr int quitId = 2;
    static constexpr int separatorId = 3;
    static constexpr int firstInfoRowId = 100;

    explicit DBusMenu(QObject* parent = nullptr);

    // Every change raises the revision. A change in the number of rows is announced with
    // layoutUpdated, a change of row texts alone with itemsPropertiesUpdated; rows equal
    // to the shown ones change nothing.
    void setInfoRows(const QStringList& rows);
    uint revision() const { return revision_; }

    // What the protocol's calls read. An empty `names` list means every property; a
    // negative `depth` means the whole tree. Nothing when `parentId` is no entry's id.
    std::optional<DBusMenuLayoutItem> layout(int parentId, int depth,
                                             const QStringList& names) const;
    // The entries among `ids` (every entry when `ids` is empty); unknown ids are left out.
    DBusMenuItemList groupProperties(const QList<int>& ids, const QStringList& names) const;
    // Nothing when there is no such entry, or the entry has no such property.
    std::optional<QVariant> property(int id, const QString& name) const;
    bool hasEntry(int id) const;
    // A host's event on an entry; false when there is no such entry.
    bool handleEvent(int id, const QString& eventId);
    // A host is about to open the menu: whoever fills the rows may bring them up to date
    // now. True when that changed the menu.
    bool prepareToShow();

signals:
    void refreshClicked();
    void quitClicked();
    void aboutToShow();
    void layoutUpdated(uint revision, int parentId);
    void itemsPropertiesUpdated(const DBusMenuItemList& updated,
                                const DBusMenuItemKeysList& removed);

private:
    DBusMenuItemList entries() const;
    std::optional<DBusMenuItem> entry(int id) const;

    QStringList infoRows_;
    uint revision_ = 1;
};
