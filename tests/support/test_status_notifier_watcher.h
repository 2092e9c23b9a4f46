#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QList>
#include <QObject>
#include <QString>

// A StatusNotifierWatcher as panel hosts run one: it owns org.kde.StatusNotifierWatcher,
// answers RegisterStatusNotifierItem at /StatusNotifierWatcher, and keeps each
// registration with the unique name of the connection that sent it.
class TestStatusNotifierWatcher : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
public:
    struct Registration {
        QString service;
        QString sender;
    };

    explicit TestStatusNotifierWatcher(QDBusConnection connection);
    ~TestStatusNotifierWatcher() override;

    // Exports the object and takes the name; false when the bus refuses either.
    bool start();
    // Releases the name (a watcher that ends); the registrations so far are kept.
    void stop();

    const QList<Registration>& registrations() const { return registrations_; }

public slots:
    Q_SCRIPTABLE void RegisterStatusNotifierItem(const QString& service);

private:
    QDBusConnection connection_;
    QList<Registration> registrations_;
    bool exported_ = false;
};
