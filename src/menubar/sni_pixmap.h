#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QImage>
#include <QList>
#include <QMetaType>

// One icon image as the StatusNotifierItem protocol sends it, D-Bus type (iiay): width,
// height and the pixels as ARGB32 (not premultiplied), each pixel in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;

    static SniPixmap fromImage(const QImage& image);
};

using SniPixmapList = QList<SniPixmap>;

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap);

Q_DECLARE_METATYPE(SniPixmap)
