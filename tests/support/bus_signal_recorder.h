#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>

// Keeps every D-Bus signal of one kind that reaches `connection`, from any sender, in the
// order of arrival.
class BusSignalRecorder : public QObject {
    Q_OBJECT
public:
    BusSignalRecorder(QDBusConnection connection, const QString& path, const QString& interface,
                      const QString& name);

    const QList<QDBusMessage>& messages() const { return messages_; }
    // Whether the match was accepted by the bus.
    bool listening() const { return listening_; }

private slots:
    void record(const QDBusMessage& message);

private:
    QList<QDBusMessage> messages_;
    bool listening_ = false;
};
