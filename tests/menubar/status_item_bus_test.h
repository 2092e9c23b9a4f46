#pragma once

#include "bus/status_notifier_item.h"
#include "private_bus.h"
#include "test_status_notifier_watcher.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <gtest/gtest.h>

#include <memory>

// One entry of a menu layout as a host reads it off the bus.
struct MenuNode {
    int id = 0;
    QVariantMap properties;
    QList<MenuNode> children;
};

// Reads the wire types the way a host does, without the program's own types, so that a
// fault in those cannot hide itself.
MenuNode readMenuNode(const QDBusArgument& argument);
struct WirePixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
QList<WirePixmap> readPixmaps(const QDBusArgument& argument);
QVariantMap readVariantMap(const QVariant& value);
// The D-Bus signature of a value as it came off the bus.
QString signatureOf(const QVariant& value);

// A private bus with the item on one connection and a host on another.
class StatusItemBusTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A started item with a test watcher already on the bus.
    StatusNotifierItem& startItem(QList<QImage> pixmaps = {});
    std::unique_ptr<TestStatusNotifierWatcher> startWatcher();

    // A call from the host's connection to the item, waiting for the answer.
    QDBusMessage callItem(const QString& path, const QString& interface, const QString& method,
                          const QList<QVariant>& arguments = {});
    QDBusMessage callMenu(const QString& method, const QList<QVariant>& arguments = {});
    QVariant itemProperty(const QString& name);
    // GetLayout(parentId, depth, names): the revision and the layout.
    std::pair<uint, MenuNode> menuLayout(int parentId = 0, int depth = -1,
                                         const QStringList& names = {});
    int menuIdOf(const QString& label);

    std::unique_ptr<PrivateBus> bus_;
    QDBusConnection itemConnection_{QString()};
    QDBusConnection host_{QString()};
    std::unique_ptr<TestStatusNotifierWatcher> watcher_;
    std::unique_ptr<StatusNotifierItem> item_;
};
