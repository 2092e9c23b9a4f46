#include "test_status_notifier_watcher.h"

#include <QDBusConnectionInterface>

namespace {
const QString watcherName = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString watcherPath = QStringLiteral("/StatusNotifierWatcher");
} // namespace

TestStatusNotifierWatcher::TestStatusNotifierWatcher(QDBusConnection connection)
    : connection_(std::move(connection)) {}

TestStatusNotifierWatcher::~TestStatusNotifierWatcher() {
    stop();
    if (exported_) {
        connection_.unregisterObject(watcherPath);
    }
}

bool TestStatusNotifierWatcher::start() {
    if (!exported_) {
        exported_ =
            connection_.registerObject(watcherPath, this, QDBusConnection::ExportScriptableSlots);
    }
    return exported_ && connection_.registerService(watcherName);
}

void TestStatusNotifierWatcher::stop() {
    connection_.unregisterService(watcherName);
}

void TestStatusNotifierWatcher::RegisterStatusNotifierItem(const QString& service) {
    registrations_.append({service, message().service()});
}
