#pragma once

#include "bus/dbus_types.h"

#include <QDBusAbstractAdaptor>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>

// The item's small menu as the DBusMenu protocol describes it: a root (id 0) whose
// entries are the information rows (shown, not clickable), a separator when there are
// rows, "Refresh" and "Quit". Refresh and Quit keep their ids whatever rows come and go,
// so a click that a host sends for a layout it read a moment ago still means what the
// user saw.
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
    // More than a menu of a few entries could ever be asked for: a call with longer lists
    // is refused, so that no call can make the menu build a large answer.
    static constexpr qsizetype maxListLength = 256;

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
    // A host's event on an entry; false when there is no such entry. "opened" and
    // "closed" on the root say whether the menu is on screen.
    bool handleEvent(int id, const QString& eventId);
    // A host is about to show the menu (AboutToShow or AboutToShowGroup on any entry):
    // whoever fills the rows may bring them up to date now. True when that changed the menu.
    bool prepareToShow();

signals:
    void refreshClicked();
    void quitClicked();
    void aboutToShow();
    void openChanged(bool open);
    void layoutUpdated(uint revision, int parentId);
    void itemsPropertiesUpdated(const DBusMenuItemList& updated,
                                const DBusMenuItemKeysList& removed);

private:
    DBusMenuItemList entries() const;
    std::optional<DBusMenuItem> entry(int id) const;

    QStringList infoRows_;
    uint revision_ = 1;
};

// com.canonical.dbusmenu on the bus, answered from a DBusMenu. Calls that name no entry,
// or pass lists longer than DBusMenu::maxListLength, get an InvalidArgs error.
class DBusMenuAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_CLASSINFO("D-Bus Introspection",
                "  <interface name=\"com.canonical.dbusmenu\">\n"
                "    <property name=\"Version\" type=\"u\" access=\"read\"/>\n"
                "    <property name=\"TextDirection\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"Status\" type=\"s\" access=\"read\"/>\n"
                "    <property name=\"IconThemePath\" type=\"as\" access=\"read\"/>\n"
                "    <method name=\"GetLayout\">\n"
                "      <arg name=\"parentId\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"recursionDepth\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"revision\" type=\"u\" direction=\"out\"/>\n"
                "      <arg name=\"layout\" type=\"(ia{sv}av)\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetGroupProperties\">\n"
                "      <arg name=\"ids\" type=\"ai\" direction=\"in\"/>\n"
                "      <arg name=\"propertyNames\" type=\"as\" direction=\"in\"/>\n"
                "      <arg name=\"properties\" type=\"a(ia{sv})\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"GetProperty\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"name\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"value\" type=\"v\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"Event\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"eventId\" type=\"s\" direction=\"in\"/>\n"
                "      <arg name=\"data\" type=\"v\" direction=\"in\"/>\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"in\"/>\n"
                "    </method>\n"
                "    <method name=\"EventGroup\">\n"
                "      <arg name=\"events\" type=\"a(isvu)\" direction=\"in\"/>\n"
                "      <arg name=\"idErrors\" type=\"ai\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShow\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"in\"/>\n"
                "      <arg name=\"needUpdate\" type=\"b\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <method name=\"AboutToShowGroup\">\n"
                "      <arg name=\"ids\" type=\"ai\" direction=\"in\"/>\n"
                "      <arg name=\"updatesNeeded\" type=\"ai\" direction=\"out\"/>\n"
                "      <arg name=\"idErrors\" type=\"ai\" direction=\"out\"/>\n"
                "    </method>\n"
                "    <signal name=\"ItemsPropertiesUpdated\">\n"
                "      <arg name=\"updatedProps\" type=\"a(ia{sv})\" direction=\"out\"/>\n"
                "      <arg name=\"removedProps\" type=\"a(ias)\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"LayoutUpdated\">\n"
                "      <arg name=\"revision\" type=\"u\" direction=\"out\"/>\n"
                "      <arg name=\"parent\" type=\"i\" direction=\"out\"/>\n"
                "    </signal>\n"
                "    <signal name=\"ItemActivationRequested\">\n"
                "      <arg name=\"id\" type=\"i\" direction=\"out\"/>\n"
                "      <arg name=\"timestamp\" type=\"u\" direction=\"out\"/>\n"
                "    </signal>\n"
                "  </interface>\n")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuAdaptor(DBusMenu* menu);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    // Parameters spell out QList<...>: QtDBus looks the types up by the names written
    // here, and an alias is not registered under its own name.
public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   DBusMenuLayoutItem& layout);
    QList<DBusMenuItem> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<DBusMenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void ItemsPropertiesUpdated(const QList<DBusMenuItem>& updatedProps,
                                const QList<DBusMenuItemKeys>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    void refuseUnknownEntry(int id);
    // False, with an InvalidArgs reply sent, when a list is too long.
    bool acceptLengths(std::initializer_list<qsizetype> lengths);

    DBusMenu* menu_;
};
