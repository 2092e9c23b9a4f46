#include "menubar/ticker_icon.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace {
const QString resourcePath = QStringLiteral(":/brimwell/brimwell-ticker.svg");
}

QList<int> TickerIcon::standardSizes() {
    return {16, 22, 24, 32, 48};
}

QByteArray TickerIcon::svg() {
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return file.readAll();
}

QImage TickerIcon::render(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(resourcePath);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter);
    painter.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QList<QImage> TickerIcon::renderStandardSizes() {
    QList<QImage> images;
    for (const int size : standardSizes()) {
        images.append(render(size));
    }
    return images;
}
