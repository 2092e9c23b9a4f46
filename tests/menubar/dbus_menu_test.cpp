#include "bus_signal_recorder.h"
#include "bus/dbus_types.h"
#include "status_item_bus_test.h"
#include "wait_until.h"

#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QSignalSpy>

namespace {

const QString menuPath = QStringLiteral("/MenuBar");
const QString menuInterface = QStringLiteral("com.canonical.dbusmenu");
const QString bitcoinSign = QStringLiteral("\u20BF");

// What a host shows for one entry: label ("" for none), type, and whether it can be clicked.
struct Shown {
    QString label;
    QString type;
    bool enabled;

    bool operator==(const Shown&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Shown& shown) {
    return out << "{" << shown.label.toStdString() << ", " << shown.type.toStdString() << ", "
               << shown.enabled << "}";
}

// Missing properties take the protocol's defaults.
Shown shownAs(const MenuNode& node) {
    return {node.properties.value(QStringLiteral("label")).toString(),
            node.properties.value(QStringLiteral("type"), QStringLiteral("standard")).toString(),
            node.properties.value(QStringLiteral("enabled"), true).toBool()};
}

Shown info(const QString& label) {
    return {label, QStringLiteral("standard"), false};
}
const Shown separator{QString(), QStringLiteral("separator"), true};
const Shown refresh{QStringLiteral("Refresh"), QStringLiteral("standard"), true};
const Shown quit{QStringLiteral("Quit"), QStringLiteral("standard"), true};

QVariant eventData() {
    return QVariant::fromValue(QDBusVariant(QVariant(QString())));
}

class DBusMenuTest : public StatusItemBusTest {
protected:
    QDBusMessage sendEvent(int id, const QString& eventId) {
        return callMenu(QStringLiteral("Event"),
                        {id, eventId, eventData(), QVariant::fromValue(uint(42))});
    }
};

TEST_F(DBusMenuTest, theLayoutShowsEachMenuState) {
    StatusNotifierItem& item = startItem();
    struct Case {
        const char* state;
        QStringList rows;
        QList<Shown> shown;
    };
    const QString price = bitcoinSign + QStringLiteral(" 67,432");
    const Case cases[] = {
        {"before any row", {}, {refresh, quit}},
        {"a price",
         {price, QStringLiteral("Source coinbase")},
         {info(price), info(QStringLiteral("Source coinbase")), separator, refresh, quit}},
        {"with a failure",
         {price, QStringLiteral("Source coinbase"), QStringLiteral("Updated 2 min ago"),
          QStringLiteral("All providers failed. mempool.space: timed out")},
         {info(price), info(QStringLiteral("Source coinbase")),
          info(QStringLiteral("Updated 2 min ago")),
          info(QStringLiteral("All providers failed. mempool.space: timed out")), separator,
          refresh, quit}},
        {"the failure gone", {price}, {info(price), separator, refresh, quit}},
        {"no rows again", {}, {refresh, quit}},
    };
    uint lastRevision = 0;
    for (const Case& c : cases) {
        item.setMenuRows(c.rows);
        const auto [revision, root] = menuLayout();
        EXPECT_EQ(root.id, 0) << c.state;
        EXPECT_EQ(root.properties.value(QStringLiteral("children-display")).toString(),
                  QStringLiteral("submenu"))
            << c.state;
        QList<Shown> shown;
        for (const MenuNode& child : root.children) {
            shown.append(shownAs(child));
            EXPECT_TRUE(child.children.isEmpty()) << c.state;
        }
        EXPECT_EQ(shown, c.shown) << c.state;
        EXPECT_GT(revision, lastRevision) << c.state;
        lastRevision = revision;
    }
}

TEST_F(DBusMenuTest, rowTextsAreShownLiterallyNotAsMnemonics) {
    StatusNotifierItem& item = startItem();
    item.setMenuRows({QStringLiteral("(Brimwell_Ticker.PriceError error 1.)")});
    const MenuNode root = menuLayout().second;
    ASSERT_FALSE(root.children.isEmpty());
    EXPECT_EQ(root.children[0].properties.value(QStringLiteral("label")).toString(),
              QStringLiteral("(Brimwell__Ticker.PriceError error 1.)"));
}

TEST_F(DBusMenuTest, theLayoutFollowsParentDepthAndPropertyNames) {
    StatusNotifierItem& item = startItem();
    item.setMenuRows({QStringLiteral("row")});
    const int refreshId = menuIdOf(QStringLiteral("Refresh"));

    const MenuNode rootAlone = menuLayout(0, 0).second;
    EXPECT_TRUE(rootAlone.children.isEmpty());
    EXPECT_EQ(menuLayout(0, 1).second.children.size(), 4);

    const MenuNode refreshNode = menuLayout(refreshId, -1).second;
    EXPECT_EQ(refreshNode.id, refreshId);
    EXPECT_EQ(refreshNode.properties.value(QStringLiteral("label")).toString(),
              QStringLiteral("Refresh"));
    EXPECT_TRUE(refreshNode.children.isEmpty());

    const MenuNode labelsOnly = menuLayout(0, -1, {QStringLiteral("label")}).second;
    ASSERT_EQ(labelsOnly.children.size(), 4);
    EXPECT_TRUE(labelsOnly.properties.isEmpty());
    EXPECT_EQ(labelsOnly.children[0].properties.keys(), QStringList{QStringLiteral("label")});
    EXPECT_TRUE(labelsOnly.children[1].properties.isEmpty()); // the separator has no label
}

TEST_F(DBusMenuTest, callsNamingNoEntryAreRefused) {
    startItem();
    const QDBusMessage replies[] = {
        callMenu(QStringLiteral("GetLayout"), {999, -1, QStringList()}),
        callMenu(QStringLiteral("GetProperty"), {999, QStringLiteral("label")}),
        callMenu(QStringLiteral("GetProperty"), {0, QStringLiteral("no-such-property")}),
        sendEvent(999, QStringLiteral("clicked")),
        callMenu(QStringLiteral("AboutToShow"), {999}),
    };
    for (const QDBusMessage& reply : replies) {
        EXPECT_EQ(reply.type(), QDBusMessage::ErrorMessage);
        EXPECT_EQ(reply.errorName(), QDBusError::errorString(QDBusError::InvalidArgs));
    }
}

TEST_F(DBusMenuTest, clicksOnRefreshAndQuitReachTheItemsSignals) {
    StatusNotifierItem& item = startItem();
    item.setMenuRows({QStringLiteral("row one"), QStringLiteral("row two")});
    QSignalSpy refreshSpy(&item, &StatusNotifierItem::refreshRequested);
    QSignalSpy quitSpy(&item, &StatusNotifierItem::quitRequested);

    struct Case {
        const char* entry;
        const char* event;
        int refreshes;
        int quits;
    };
    const Case cases[] = {
        {"Refresh", "clicked", 1, 0}, {"Quit", "clicked", 0, 1},    {"Refresh", "hovered", 0, 0},
        {"Quit", "opened", 0, 0},     {"row one", "clicked", 0, 0},
    };
    for (const Case& c : cases) {
        refreshSpy.clear();
        quitSpy.clear();
        const QDBusMessage reply =
            sendEvent(menuIdOf(QString::fromUtf8(c.entry)), QString::fromLatin1(c.event));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << c.entry << ": " << reply.errorMessage().toStdString();
        EXPECT_EQ(refreshSpy.size(), c.refreshes) << c.entry << " " << c.event;
        EXPECT_EQ(quitSpy.size(), c.quits) << c.entry << " " << c.event;
    }
}

TEST_F(DBusMenuTest, anEventGroupRunsEachEventAndNamesUnknownIds) {
    StatusNotifierItem& item = startItem();
    QSignalSpy refreshSpy(&item, &StatusNotifierItem::refreshRequested);
    QSignalSpy quitSpy(&item, &StatusNotifierItem::quitRequested);
    const int refreshId = menuIdOf(QStringLiteral("Refresh"));
    const int quitId = menuIdOf(QStringLiteral("Quit"));

    qDBusRegisterMetaType<DBusMenuEvent>();
    qDBusRegisterMetaType<DBusMenuEventList>();
    const DBusMenuEventList events = {
        {refreshId, QStringLiteral("clicked"), QDBusVariant(QString()), 1},
        {999, QStringLiteral("clicked"), QDBusVariant(QString()), 2},
        {quitId, QStringLiteral("hovered"), QDBusVariant(QString()), 3},
    };
    const QDBusMessage reply =
        callMenu(QStringLiteral("EventGroup"), {QVariant::fromValue(events)});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    EXPECT_EQ(reply.signature(), QStringLiteral("ai"));
    EXPECT_EQ(qdbus_cast<QList<int>>(reply.arguments().value(0)), QList<int>{999});
    EXPECT_EQ(refreshSpy.size(), 1);
    EXPECT_EQ(quitSpy.size(), 0);
}

TEST_F(DBusMenuTest, entryPropertiesCanBeReadOneByOneOrInGroups) {
    StatusNotifierItem& item = startItem();
    item.setMenuRows({QStringLiteral("a price")});
    const int refreshId = menuIdOf(QStringLiteral("Refresh"));
    const int rowId = menuIdOf(QStringLiteral("a price"));

    const QDBusMessage label =
        callMenu(QStringLiteral("GetProperty"), {rowId, QStringLiteral("label")});
    ASSERT_EQ(label.type(), QDBusMessage::ReplyMessage) << label.errorMessage().toStdString();
    EXPECT_EQ(label.arguments().value(0).value<QDBusVariant>().variant().toString(),
              QStringLiteral("a price"));
    const QDBusMessage enabled =
        callMenu(QStringLiteral("GetProperty"), {rowId, QStringLiteral("enabled")});
    EXPECT_EQ(enabled.arguments().value(0).value<QDBusVariant>().variant(), QVariant(false));

    const QDBusMessage group = callMenu(
        QStringLiteral("GetGroupProperties"),
        {QVariant::fromValue(QList<int>{refreshId, 999, 0}), QStringList{QStringLiteral("label")}});
    ASSERT_EQ(group.type(), QDBusMessage::ReplyMessage) << group.errorMessage().toStdString();
    EXPECT_EQ(group.signature(), QStringLiteral("a(ia{sv})"));
    const QDBusArgument entries = group.arguments().value(0).value<QDBusArgument>();
    QList<std::pair<int, QVariantMap>> read;
    entries.beginArray();
    while (!entries.atEnd()) {
        int id = 0;
        QVariantMap properties;
        entries.beginStructure();
        entries >> id >> properties;
        entries.endStructure();
        read.append({id, properties});
    }
    entries.endArray();
    ASSERT_EQ(read.size(), 2);
    EXPECT_EQ(read[0].first, refreshId);
    EXPECT_EQ(read[0].second, (QVariantMap{{QStringLiteral("label"), QStringLiteral("Refresh")}}));
    EXPECT_EQ(read[1].first, 0);
    EXPECT_TRUE(read[1].second.isEmpty());

    const QDBusMessage every = callMenu(QStringLiteral("GetGroupProperties"),
                                        {QVariant::fromValue(QList<int>{}), QStringList{}});
    ASSERT_EQ(every.type(), QDBusMessage::ReplyMessage);
    const QDBusArgument all = every.arguments().value(0).value<QDBusArgument>();
    int count = 0;
    all.beginArray();
    while (!all.atEnd()) {
        int id = 0;
        QVariantMap properties;
        all.beginStructure();
        all >> id >> properties;
        all.endStructure();
        ++count;
    }
    all.endArray();
    EXPECT_EQ(count, 5); // root, the row, separator, Refresh, Quit
}

TEST_F(DBusMenuTest, openingTheMenuLetsTheRowsCatchUp) {
    StatusNotifierItem& item = startItem();
    item.setMenuRows({QStringLiteral("Updated: 0 sec")});
    int asked = 0;
    QString age = QStringLiteral("Updated: 0 sec");
    QObject::connect(&item, &StatusNotifierItem::menuAboutToShow, [&] {
        ++asked;
        item.setMenuRows({age});
    });

    // Nothing changed while the menu was closed: no update needed.
    const QDBusMessage same = callMenu(QStringLiteral("AboutToShow"), {0});
    ASSERT_EQ(same.type(), QDBusMessage::ReplyMessage) << same.errorMessage().toStdString();
    EXPECT_EQ(same.arguments().value(0), QVariant(false));
    EXPECT_EQ(asked, 1);

    age = QStringLiteral("Updated: 7 sec");
    const QDBusMessage moved = callMenu(QStringLiteral("AboutToShow"), {0});
    EXPECT_EQ(moved.arguments().value(0), QVariant(true));
    EXPECT_EQ(asked, 2);

    // Only the root is a menu that opens; Refresh is not.
    EXPECT_EQ(callMenu(QStringLiteral("AboutToShow"), {1}).arguments().value(0), QVariant(false));
    EXPECT_EQ(asked, 2);

    age = QStringLiteral("Updated: 9 sec");
    const QDBusMessage group =
        callMenu(QStringLiteral("AboutToShowGroup"), {QVariant::fromValue(QList<int>{0, 1234})});
    ASSERT_EQ(group.type(), QDBusMessage::ReplyMessage) << group.errorMessage().toStdString();
    EXPECT_EQ(group.signature(), QStringLiteral("aiai"));
    EXPECT_EQ(qdbus_cast<QList<int>>(group.arguments().value(0)), QList<int>{0});
    EXPECT_EQ(qdbus_cast<QList<int>>(group.arguments().value(1)), QList<int>{1234});
}

TEST_F(DBusMenuTest, changesAreAnnouncedAsLayoutOrPropertyUpdates) {
    StatusNotifierItem& item = startItem();
    BusSignalRecorder layouts(host_, menuPath, menuInterface, QStringLiteral("LayoutUpdated"));
    BusSignalRecorder updates(host_, menuPath, menuInterface,
                              QStringLiteral("ItemsPropertiesUpdated"));
    ASSERT_TRUE(layouts.listening() && updates.listening());

    // Rows come: the layout changed.
    item.setMenuRows({QStringLiteral("one"), QStringLiteral("two")});
    ASSERT_TRUE(waitUntil([&] { return layouts.messages().size() == 1; }));
    const uint afterRowsCame = menuLayout().first;
    EXPECT_EQ(layouts.messages()[0].arguments(),
              (QList<QVariant>{QVariant::fromValue(afterRowsCame), 0}));

    // Same rows again: nothing to say. A second row's text changes: only that entry.
    item.setMenuRows({QStringLiteral("one"), QStringLiteral("two")});
    item.setMenuRows({QStringLiteral("one"), QStringLiteral("three")});
    ASSERT_TRUE(waitUntil([&] { return updates.messages().size() == 1; }));
    const QDBusMessage& update = updates.messages()[0];
    EXPECT_EQ(update.signature(), QStringLiteral("a(ia{sv})a(ias)"));
    const QDBusArgument updated = update.arguments().value(0).value<QDBusArgument>();
    QList<std::pair<int, QVariantMap>> entries;
    updated.beginArray();
    while (!updated.atEnd()) {
        int id = 0;
        QVariantMap properties;
        updated.beginStructure();
        updated >> id >> properties;
        updated.endStructure();
        entries.append({id, properties});
    }
    updated.endArray();
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].first, menuIdOf(QStringLiteral("three")));
    EXPECT_EQ(entries[0].second.value(QStringLiteral("label")).toString(), QStringLiteral("three"));
    EXPECT_GT(menuLayout().first, afterRowsCame);

    // A row goes: the layout changed again, and the repeat above announced nothing.
    item.setMenuRows({QStringLiteral("one")});
    ASSERT_TRUE(waitUntil([&] { return layouts.messages().size() >= 2; }));
    EXPECT_EQ(layouts.messages().size(), 2);
    EXPECT_EQ(updates.messages().size(), 1);
    EXPECT_EQ(layouts.messages()[1].arguments().value(0).toUInt(), menuLayout().first);
}

TEST_F(DBusMenuTest, theMenuDescribesItself) {
    startItem();
    struct Case {
        const char* name;
        QVariant expected;
    };
    const Case cases[] = {
        {"Version", 3u},
        {"TextDirection", QStringLiteral("ltr")},
        {"Status", QStringLiteral("normal")},
    };
    for (const Case& c : cases) {
        const QDBusMessage reply =
            callItem(menuPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                     QStringLiteral("Get"), {menuInterface, QString::fromLatin1(c.name)});
        ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << c.name;
        EXPECT_EQ(reply.arguments().value(0).value<QDBusVariant>().variant(), c.expected) << c.name;
    }
}

} // namespace
