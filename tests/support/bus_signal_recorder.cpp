#include "bus_signal_recorder.h"

BusSignalRecorder::BusSignalRecorder(QDBusConnection connection, const QString& path,
                                     const QString& interface, const QString& name) {
    listening_ =
        connection.connect(QString(), path, interface, name, this, SLOT(record(QDBusMessage)));
}

void BusSignalRecorder::record(const QDBusMessage& message) {
    messages_.append(message);
}
