#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>

// The program's icon, a BITCOIN SIGN on an orange disc, kept as one SVG document built
// into the library and rendered to images for hosts that want pixels.
class TickerIcon {
public:
    // The sizes panels commonly draw at.
    static QList<int> standardSizes();
    static QByteArray svg();
    // A square ARGB32 image of `size` pixels; transparent outside the disc.
    static QImage render(int size);
    static QList<QImage> renderStandardSizes();
};
