#include "status_item_bus_test.h"

#include "wait_until.h"

#include <QDBusMetaType>
#include <QDBusVariant>

namespace {
const QString itemPath = QStringLiteral("/StatusNotifierItem");
const QString menuPath = QStringLiteral("/MenuBar");
} // namespace

MenuNode readMenuNode(const QDBusArgument& argument) {
    MenuNode node;
    argument.beginStructure();
    argument >> node.id;
    node.properties = qdbus_cast<QVariantMap>(argument);
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        node.children.append(readMenuNode(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return node;
}

QList<WirePixmap> readPixmaps(const QDBusArgument& argument) {
    QList<WirePixmap> pixmaps;
    argument.beginArray();
    while (!argument.atEnd()) {
        WirePixmap pixmap;
        argument.beginStructure();
        argument >> pixmap.width >> pixmap.height >> pixmap.argb;
        argument.endStructure();
        pixmaps.append(pixmap);
    }
    argument.endArray();
    return pixmaps;
}

QVariantMap readVariantMap(const QVariant& value) {
    if (value.canConvert<QDBusArgument>() &&
        value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        return qdbus_cast<QVariantMap>(value.value<QDBusArgument>());
    }
    return value.toMap();
}

QString signatureOf(const QVariant& value) {
    if (value.metaType() == QMetaType::fromType<QDBusArgument>()) {
        return value.value<QDBusArgument>().currentSignature();
    }
    return QString::fromLatin1(QDBusMetaType::typeToSignature(value.metaType()));
}

void StatusItemBusTest::SetUp() {
    bus_ = std::make_unique<PrivateBus>();
    itemConnection_ = bus_->connect();
    host_ = bus_->connect();
}

void StatusItemBusTest::TearDown() {
    item_.reset();
    watcher_.reset();
    bus_.reset();
}

std::unique_ptr<TestStatusNotifierWatcher> StatusItemBusTest::startWatcher() {
    auto watcher = std::make_unique<TestStatusNotifierWatcher>(bus_->connect());
    EXPECT_TRUE(watcher->start());
    return watcher;
}

StatusNotifierItem& StatusItemBusTest::startItem(QList<QImage> pixmaps) {
    watcher_ = startWatcher();
    item_ = std::make_unique<StatusNotifierItem>(
        itemConnection_, QStringLiteral("/opt/brimwell/brimwell-ticker.svg"), std::move(pixmaps));
    EXPECT_TRUE(item_->start());
    EXPECT_TRUE(waitUntil([&] { return !watcher_->registrations().isEmpty(); }));
    return *item_;
}

QDBusMessage StatusItemBusTest::callItem(const QString& path, const QString& interface,
                                         const QString& method, const QList<QVariant>& arguments) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(item_->serviceName(), path, interface, method);
    call.setArguments(arguments);
    // The item answers on this thread's event loop, so the wait must keep it running.
    return host_.call(call, QDBus::BlockWithGui, 10000);
}

QDBusMessage StatusItemBusTest::callMenu(const QString& method, const QList<QVariant>& arguments) {
    return callItem(menuPath, QStringLiteral("com.canonical.dbusmenu"), method, arguments);
}

QVariant StatusItemBusTest::itemProperty(const QString& name) {
    const QDBusMessage reply =
        callItem(itemPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                 {QStringLiteral("org.kde.StatusNotifierItem"), name});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        ADD_FAILURE() << "Get " << name.toStdString() << ": " << reply.errorMessage().toStdString();
        return {};
    }
    return reply.arguments().first().value<QDBusVariant>().variant();
}

std::pair<uint, MenuNode> StatusItemBusTest::menuLayout(int parentId, int depth,
                                                        const QStringList& names) {
    const QDBusMessage reply = callMenu(QStringLiteral("GetLayout"), {parentId, depth, names});
    if (reply.type() != QDBusMessage::ReplyMessage) {
        ADD_FAILURE() << "GetLayout: " << reply.errorMessage().toStdString();
        return {};
    }
    EXPECT_EQ(reply.signature(), QStringLiteral("u(ia{sv}av)"));
    return {reply.arguments().at(0).toUInt(),
            readMenuNode(reply.arguments().at(1).value<QDBusArgument>())};
}

int StatusItemBusTest::menuIdOf(const QString& label) {
    for (const MenuNode& child : menuLayout().second.children) {
        if (child.properties.value(QStringLiteral("label")).toString() == label) {
            return child.id;
        }
    }
    ADD_FAILURE() << "no menu entry " << label.toStdString();
    return -1;
}
