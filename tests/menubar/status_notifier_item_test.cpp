#include "bus_signal_recorder.h"
#include "bus/dbus_types.h"
#include "bus/dbus_types.h"
#include "bus/dbus_types.h"
#include "bus/dbus_types.h"
#include "bus/dbus_types.h"
#include "bus/dbus_types.h"
#include "status_item_bus_test.h"
#include "wait_until.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QSignalSpy>
#include <QXmlStreamReader>

#include <map>

namespace {

const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString itemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString propertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString bitcoinSign = QStringLiteral("\u20BF");

// name -> type of every <property> of `interface` in an introspection document.
std::map<QString, QString> introspectedProperties(const QString& xml, const QString& interface,
                                                  QStringList* methods = nullptr,
                                                  QStringList* signalNames = nullptr) {
    std::map<QString, QString> properties;
    QXmlStreamReader reader(xml);
    bool inside = false;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("interface")) {
            inside = reader.attributes().value(QLatin1String("name")) == interface;
        } else if (reader.isEndElement() && reader.name() == QLatin1String("interface")) {
            inside = false;
        } else if (inside && reader.isStartElement()) {
            const QString name = reader.attributes().value(QLatin1String("name")).toString();
            if (reader.name() == QLatin1String("property")) {
                EXPECT_EQ(reader.attributes().value(QLatin1String("access")), QLatin1String("read"))
                    << name.toStdString();
                properties[name] = reader.attributes().value(QLatin1String("type")).toString();
            } else if (reader.name() == QLatin1String("method") && methods) {
                methods->append(name);
            } else if (reader.name() == QLatin1String("signal") && signalNames) {
                signalNames->append(name);
            }
        }
    }
    EXPECT_FALSE(reader.hasError()) << reader.errorString().toStdString();
    return properties;
}

class StatusNotifierItemTest : public StatusItemBusTest {
protected:
    QString introspect(const QString& path) {
        const QDBusMessage reply =
            callItem(path, QStringLiteral("org.freedesktop.DBus.Introspectable"),
                     QStringLiteral("Introspect"));
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).toString();
    }

    // One round trip to the item: the bus delivers in order, so once it answers, the item
    // has also seen every name change that happened before.
    void settleItem() { EXPECT_FALSE(itemProperty(QStringLiteral("Id")).toString().isEmpty()); }
};

TEST(StatusItemWireTypesTest, eachTypeHasTheSignatureTheProtocolsName) {
    // The adaptors register these as they are made.
    StatusNotifierItem item(QDBusConnection(QString()), QString(), {});
    const std::pair<QMetaType, const char*> cases[] = {
        {QMetaType::fromType<SniPixmap>(), "(iiay)"},
        {QMetaType::fromType<SniPixmapList>(), "a(iiay)"},
        {QMetaType::fromType<SniToolTip>(), "(sa(iiay)ss)"},
        {QMetaType::fromType<DBusMenuLayoutItem>(), "(ia{sv}av)"},
        {QMetaType::fromType<DBusMenuItemList>(), "a(ia{sv})"},
        {QMetaType::fromType<DBusMenuItemKeysList>(), "a(ias)"},
        {QMetaType::fromType<DBusMenuEventList>(), "a(isvu)"},
    };
    for (const auto& [type, signature] : cases) {
        EXPECT_STREQ(QDBusMetaType::typeToSignature(type), signature) << type.name();
    }
}

TEST_F(StatusNotifierItemTest, registersWithTheWatcherUnderTheNameItOwns) {
    StatusNotifierItem& item = startItem();
    const QString expectedName =
        QStringLiteral("org.kde.StatusNotifierItem-%1-1").arg(QCoreApplication::applicationPid());
    EXPECT_EQ(item.serviceName(), expectedName);
    ASSERT_EQ(watcher_->registrations().size(), 1);
    EXPECT_EQ(watcher_->registrations()[0].service, expectedName);
    EXPECT_EQ(watcher_->registrations()[0].sender, itemConnection_.baseService());
    EXPECT_EQ(host_.interface()->serviceOwner(expectedName).value(), itemConnection_.baseService());
}

TEST_F(StatusNotifierItemTest, hostsReadTheItemsPropertiesOverTheBus) {
    StatusNotifierItem& item = startItem();
    item.setTitle(bitcoinSign + QStringLiteral(" 67,432"));
    const QString title = bitcoinSign + QStringLiteral(" 67,432");

    struct Case {
        const char* name;
        QVariant expected;
        const char* signature;
    };
    const Case cases[] = {
        {"Id", QStringLiteral("brimwell-ticker"), "s"},
        {"Category", QStringLiteral("ApplicationStatus"), "s"},
        {"Status", QStringLiteral("Active"), "s"},
        {"Title", title, "s"},
        {"WindowId", 0, "i"},
        {"IconName", QStringLiteral("/opt/brimwell/brimwell-ticker.svg"), "s"},
        {"IconThemePath", QString(), "s"},
        {"OverlayIconName", QString(), "s"},
        {"AttentionIconName", QString(), "s"},
        {"AttentionMovieName", QString(), "s"},
        {"ItemIsMenu", false, "b"},
        {"XAyatanaLabel", title, "s"},
        {"XAyatanaLabelGuide", bitcoinSign + QStringLiteral(" 000,000"), "s"},
        {"XAyatanaOrderingIndex", 0u, "u"},
    };
    for (const Case& c : cases) {
        const QVariant value = itemProperty(QString::fromLatin1(c.name));
        EXPECT_EQ(signatureOf(value), QString::fromLatin1(c.signature)) << c.name;
        EXPECT_EQ(value, c.expected) << c.name;
    }

    const QVariant menu = itemProperty(QStringLiteral("Menu"));
    EXPECT_EQ(signatureOf(menu), QStringLiteral("o"));
    EXPECT_EQ(menu.value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));

    for (const char* name : {"OverlayIconPixmap", "AttentionIconPixmap"}) {
        const QVariant pixmaps = itemProperty(QString::fromLatin1(name));
        EXPECT_EQ(signatureOf(pixmaps), QStringLiteral("a(iiay)")) << name;
        EXPECT_TRUE(readPixmaps(pixmaps.value<QDBusArgument>()).isEmpty()) << name;
    }
}

TEST_F(StatusNotifierItemTest, iconPixmapHoldsEachImageAsArgbInNetworkByteOrder) {
    QImage straight(2, 1, QImage::Format_ARGB32);
    straight.setPixel(0, 0, 0x80112233);
    straight.setPixel(1, 0, 0xff445566);
    // Premultiplied red at half alpha must go out as straight alpha.
    QImage premultiplied(1, 2, QImage::Format_ARGB32_Premultiplied);
    premultiplied.fill(QColor(255, 0, 0, 128));
    startItem({straight, premultiplied});

    const QVariant value = itemProperty(QStringLiteral("IconPixmap"));
    ASSERT_EQ(signatureOf(value), QStringLiteral("a(iiay)"));
    const QList<WirePixmap> pixmaps = readPixmaps(value.value<QDBusArgument>());
    ASSERT_EQ(pixmaps.size(), 2);
    EXPECT_EQ(pixmaps[0].width, 2);
    EXPECT_EQ(pixmaps[0].height, 1);
    EXPECT_EQ(pixmaps[0].argb, QByteArray::fromHex("80112233ff445566"));
    EXPECT_EQ(pixmaps[1].width, 1);
    EXPECT_EQ(pixmaps[1].height, 2);
    EXPECT_EQ(pixmaps[1].argb, QByteArray::fromHex("80ff000080ff0000"));
}

TEST_F(StatusNotifierItemTest, getAllAndIntrospectionListEveryPropertyWithItsType) {
    startItem();
    const QString xml = introspect(itemPath);
    QStringList methods;
    QStringList signalNames;
    const std::map<QString, QString> listed =
        introspectedProperties(xml, itemInterface, &methods, &signalNames);

    const std::map<QString, QString> expected = {
        {"Category", "s"},
        {"Id", "s"},
        {"Title", "s"},
        {"Status", "s"},
        {"WindowId", "i"},
        {"IconName", "s"},
        {"IconThemePath", "s"},
        {"IconPixmap", "a(iiay)"},
        {"OverlayIconName", "s"},
        {"OverlayIconPixmap", "a(iiay)"},
        {"AttentionIconName", "s"},
        {"AttentionIconPixmap", "a(iiay)"},
        {"AttentionMovieName", "s"},
        {"ToolTip", "(sa(iiay)ss)"},
        {"ItemIsMenu", "b"},
        {"Menu", "o"},
        {"XAyatanaLabel", "s"},
        {"XAyatanaLabelGuide", "s"},
        {"XAyatanaOrderingIndex", "u"},
    };
    EXPECT_EQ(listed, expected);
    for (const char* method : {"Activate", "SecondaryActivate", "ContextMenu", "Scroll",
                               "XAyatanaSecondaryActivate", "ProvideXdgActivationToken"}) {
        EXPECT_TRUE(methods.contains(QString::fromLatin1(method))) << method;
    }
    for (const char* name :
         {"NewTitle", "NewIcon", "NewToolTip", "NewStatus", "XAyatanaNewLabel"}) {
        EXPECT_TRUE(signalNames.contains(QString::fromLatin1(name))) << name;
    }

    // What is listed is what a Get answers, type for type, and what GetAll returns.
    const QDBusMessage all =
        callItem(itemPath, propertiesInterface, QStringLiteral("GetAll"), {itemInterface});
    ASSERT_EQ(all.type(), QDBusMessage::ReplyMessage) << all.errorMessage().toStdString();
    const QVariantMap values = readVariantMap(all.arguments().value(0));
    QStringList allNames = values.keys();
    allNames.sort();
    QStringList listedNames;
    for (const auto& [name, type] : listed) {
        listedNames.append(name);
        EXPECT_EQ(signatureOf(itemProperty(name)), type) << name.toStdString();
    }
    listedNames.sort();
    EXPECT_EQ(allNames, listedNames);
}

TEST_F(StatusNotifierItemTest, theMenuObjectIsIntrospectableWithItsInterface) {
    startItem();
    QStringList methods;
    QStringList signalNames;
    const std::map<QString, QString> listed =
        introspectedProperties(introspect(QStringLiteral("/MenuBar")),
                               QStringLiteral("com.canonical.dbusmenu"), &methods, &signalNames);
    const std::map<QString, QString> expected = {
        {"Version", "u"}, {"TextDirection", "s"}, {"Status", "s"}, {"IconThemePath", "as"}};
    EXPECT_EQ(listed, expected);
    methods.sort();
    EXPECT_EQ(methods, (QStringList{"AboutToShow", "AboutToShowGroup", "Event", "EventGroup",
                                    "GetGroupProperties", "GetLayout", "GetProperty"}));
    signalNames.sort();
    EXPECT_EQ(signalNames,
              (QStringList{"ItemActivationRequested", "ItemsPropertiesUpdated", "LayoutUpdated"}));
}

TEST_F(StatusNotifierItemTest, aNewTitleIsTheLabelAndIsAnnouncedToListeners) {
    StatusNotifierItem& item = startItem();
    BusSignalRecorder labels(host_, itemPath, itemInterface, QStringLiteral("XAyatanaNewLabel"));
    BusSignalRecorder titles(host_, itemPath, itemInterface, QStringLiteral("NewTitle"));
    BusSignalRecorder changes(host_, itemPath, propertiesInterface,
                              QStringLiteral("PropertiesChanged"));
    ASSERT_TRUE(labels.listening() && titles.listening() && changes.listening());

    const QString first = bitcoinSign + QStringLiteral(" ...");
    const QString second = bitcoinSign + QStringLiteral(" 67,432");
    item.setTitle(first);
    item.setTitle(second);
    ASSERT_TRUE(waitUntil([&] {
        return labels.messages().size() == 2 && titles.messages().size() == 2 &&
               changes.messages().size() == 2;
    }));

    const QString guide = bitcoinSign + QStringLiteral(" 000,000");
    EXPECT_EQ(labels.messages()[0].arguments(), (QList<QVariant>{first, guide}));
    EXPECT_EQ(labels.messages()[1].arguments(), (QList<QVariant>{second, guide}));
    EXPECT_EQ(labels.messages()[1].service(), itemConnection_.baseService());

    const QDBusMessage& change = changes.messages()[1];
    ASSERT_EQ(change.arguments().size(), 3);
    EXPECT_EQ(change.arguments()[0].toString(), itemInterface);
    const QVariantMap changed = readVariantMap(change.arguments()[1]);
    EXPECT_EQ(changed.value(QStringLiteral("XAyatanaLabel")).toString(), second);
    EXPECT_EQ(changed.value(QStringLiteral("Title")).toString(), second);

    EXPECT_EQ(itemProperty(QStringLiteral("XAyatanaLabel")).toString(), second);
    EXPECT_EQ(itemProperty(QStringLiteral("Title")).toString(), second);
}

TEST_F(StatusNotifierItemTest, aNewToolTipIsReadableAndAnnounced) {
    StatusNotifierItem& item = startItem();
    BusSignalRecorder toolTips(host_, itemPath, itemInterface, QStringLiteral("NewToolTip"));
    BusSignalRecorder changes(host_, itemPath, propertiesInterface,
                              QStringLiteral("PropertiesChanged"));
    ASSERT_TRUE(toolTips.listening() && changes.listening());

    const QString text = bitcoinSign + QStringLiteral(" 67,432\nSource coinbase");
    item.setToolTip(QStringLiteral("Brimwell Ticker"), text);
    ASSERT_TRUE(waitUntil(
        [&] { return toolTips.messages().size() == 1 && changes.messages().size() == 1; }));
    const QVariantMap changed = readVariantMap(changes.messages()[0].arguments().value(1));
    EXPECT_EQ(changed.keys(), QStringList{QStringLiteral("ToolTip")});

    const QVariant value = itemProperty(QStringLiteral("ToolTip"));
    ASSERT_EQ(signatureOf(value), QStringLiteral("(sa(iiay)ss)"));
    const QDBusArgument argument = value.value<QDBusArgument>();
    QString iconName;
    QString title;
    QString body;
    argument.beginStructure();
    argument >> iconName;
    const QList<WirePixmap> pixmaps = readPixmaps(argument);
    argument >> title >> body;
    argument.endStructure();
    EXPECT_EQ(iconName, QString());
    EXPECT_TRUE(pixmaps.isEmpty());
    EXPECT_EQ(title, QStringLiteral("Brimwell Ticker"));
    EXPECT_EQ(body, text);
}

TEST_F(StatusNotifierItemTest, hostCallsReachTheItemsSignals) {
    StatusNotifierItem& item = startItem();
    QSignalSpy activated(&item, &StatusNotifierItem::activated);
    QSignalSpy secondary(&item, &StatusNotifierItem::secondaryActivated);
    QSignalSpy refresh(&item, &StatusNotifierItem::refreshRequested);
    QSignalSpy quit(&item, &StatusNotifierItem::quitRequested);

    struct Case {
        const char* method;
        QList<QVariant> arguments;
        QSignalSpy* expectedSpy; // the one signal expected, or none
        QList<QVariant> expectedArguments;
    };
    const Case cases[] = {
        {"Activate", {640, 12}, &activated, {640, 12}},
        {"SecondaryActivate", {-3, 900}, &secondary, {-3, 900}},
        {"XAyatanaSecondaryActivate", {QVariant::fromValue(1234u)}, &secondary, {0, 0}},
        {"ContextMenu", {10, 20}, nullptr, {}},
        {"Scroll", {120, QStringLiteral("vertical")}, nullptr, {}},
        {"ProvideXdgActivationToken", {QStringLiteral("token-1")}, nullptr, {}},
    };
    QSignalSpy* const spies[] = {&activated, &secondary, &refresh, &quit};
    for (const Case& c : cases) {
        for (QSignalSpy* spy : spies) {
            spy->clear();
        }
        const QDBusMessage reply =
            callItem(itemPath, itemInterface, QString::fromLatin1(c.method), c.arguments);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage)
            << c.method << ": " << reply.errorMessage().toStdString();
        for (QSignalSpy* spy : spies) {
            if (spy == c.expectedSpy) {
                ASSERT_EQ(spy->size(), 1) << c.method;
                EXPECT_EQ(spy->at(0), c.expectedArguments) << c.method;
            } else {
                EXPECT_EQ(spy->size(), 0) << c.method;
            }
        }
    }
}

TEST_F(StatusNotifierItemTest, registersAgainWheneverTheWatchersNameGetsANewOwner) {
    StatusNotifierItem& item = startItem();
    ASSERT_EQ(watcher_->registrations().size(), 1);

    // The watcher ends; another one (a restarted panel) takes the name.
    watcher_->stop();
    settleItem();
    auto restarted = startWatcher();
    ASSERT_TRUE(waitUntil([&] { return !restarted->registrations().isEmpty(); }));
    EXPECT_EQ(restarted->registrations()[0].service, item.serviceName());
    EXPECT_EQ(restarted->registrations()[0].sender, itemConnection_.baseService());

    // And the first one comes back on its old connection.
    restarted->stop();
    settleItem();
    ASSERT_TRUE(watcher_->start());
    ASSERT_TRUE(waitUntil([&] { return watcher_->registrations().size() == 2; }));
    EXPECT_EQ(watcher_->registrations()[1].service, item.serviceName());
    EXPECT_EQ(restarted->registrations().size(), 1);
}

TEST_F(StatusNotifierItemTest, registersWithAWatcherThatAppearsLater) {
    item_ = std::make_unique<StatusNotifierItem>(itemConnection_, QStringLiteral("icon"),
                                                 QList<QImage>{});
    ASSERT_TRUE(item_->start());
    settleItem();
    auto late = startWatcher();
    ASSERT_TRUE(waitUntil([&] { return !late->registrations().isEmpty(); }));
    EXPECT_EQ(late->registrations()[0].service, item_->serviceName());
}

TEST_F(StatusNotifierItemTest, watcherPresentFollowsTheWatchersName) {
    EXPECT_FALSE(StatusNotifierItem::watcherPresent(itemConnection_));
    auto watcher = startWatcher();
    EXPECT_TRUE(StatusNotifierItem::watcherPresent(itemConnection_));
    watcher->stop();
    EXPECT_FALSE(StatusNotifierItem::watcherPresent(itemConnection_));
    EXPECT_FALSE(StatusNotifierItem::watcherPresent(QDBusConnection(QStringLiteral("no-such"))));
}

TEST_F(StatusNotifierItemTest, startFailsAndLeavesNothingExportedWhenTheNameIsTaken) {
    item_ = std::make_unique<StatusNotifierItem>(itemConnection_, QStringLiteral("icon"),
                                                 QList<QImage>{});
    ASSERT_TRUE(host_.registerService(item_->serviceName()));

    EXPECT_FALSE(item_->start());
    EXPECT_EQ(itemConnection_.objectRegisteredAt(itemPath), nullptr);
    EXPECT_EQ(itemConnection_.objectRegisteredAt(QStringLiteral("/MenuBar")), nullptr);
    EXPECT_EQ(host_.interface()->serviceOwner(item_->serviceName()).value(), host_.baseService());
}

TEST_F(StatusNotifierItemTest, startFailsAndHoldsNoNameWhenAPathIsTaken) {
    QObject squatter;
    ASSERT_TRUE(itemConnection_.registerObject(QStringLiteral("/MenuBar"), &squatter));
    item_ = std::make_unique<StatusNotifierItem>(itemConnection_, QStringLiteral("icon"),
                                                 QList<QImage>{});

    EXPECT_FALSE(item_->start());
    EXPECT_EQ(itemConnection_.objectRegisteredAt(itemPath), nullptr);
    EXPECT_FALSE(host_.interface()->isServiceRegistered(item_->serviceName()).value());
    itemConnection_.unregisterObject(QStringLiteral("/MenuBar"));
}

TEST_F(StatusNotifierItemTest, startFailsWithoutABusConnection) {
    StatusNotifierItem item(QDBusConnection(QStringLiteral("never-connected")),
                            QStringLiteral("icon"), {});
    EXPECT_FALSE(item.start());
}

TEST_F(StatusNotifierItemTest, anEndedItemLeavesTheBus) {
    startItem();
    const QString name = item_->serviceName();
    ASSERT_TRUE(host_.interface()->isServiceRegistered(name).value());
    item_.reset();
    EXPECT_FALSE(host_.interface()->isServiceRegistered(name).value());
    EXPECT_EQ(itemConnection_.objectRegisteredAt(itemPath), nullptr);
    EXPECT_EQ(itemConnection_.objectRegisteredAt(QStringLiteral("/MenuBar")), nullptr);
}

} // namespace
