#include "menubar/sni_pixmap.h"

#include <QtEndian>

SniPixmap SniPixmap::fromImage(const QImage& image) {
    // Hosts read straight alpha; whatever the source format, convert first.
    const QImage straight = image.convertToFormat(QImage::Format_ARGB32);
    SniPixmap pixmap{straight.width(), straight.height(), {}};
    pixmap.argb.resize(qsizetype(straight.width()) * straight.height() * 4);
    auto* out = reinterpret_cast<uchar*>(pixmap.argb.data());
    for (int y = 0; y < straight.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(straight.constScanLine(y));
        for (int x = 0; x < straight.width(); ++x) {
            qToBigEndian<quint32>(line[x], out);
            out += 4;
        }
    }
    return pixmap;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.argb;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.argb;
    argument.endStructure();
    return argument;
}
