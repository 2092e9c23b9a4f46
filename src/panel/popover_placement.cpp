#include "popover_placement.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

QPoint popoverPosition(QPoint anchor, QSize size, const QRect& screen, const QRect& available,
                       int margin) {
    const QRect area = available.isValid() ? available : screen;
    int x = anchor.x() - size.width() / 2;
    int y = anchor.y() - size.height() / 2;
    if (anchor.y() < area.top()) {
        y = area.top() + margin;
    } else if (anchor.y() > area.bottom()) {
        y = area.bottom() + 1 - margin - size.height();
    } else if (anchor.x() < area.left()) {
        x = area.left() + margin;
    } else if (anchor.x() > area.right()) {
        x = area.right() + 1 - margin - size.width();
    } else {
        y = anchor.y() < screen.center().y() ? anchor.y() + margin
                                             : anchor.y() - margin - size.height();
    }
    // Inside the work area; a popup larger than it keeps its top left corner there.
    const auto inside = [margin](int at, int length, int low, int high) {
        return std::max(low + margin, std::min(at, high + 1 - margin - length));
    };
    return {inside(x, size.width(), area.left(), area.right()),
            inside(y, size.height(), area.top(), area.bottom())};
}

QPoint fromDevicePixels(QPoint point) {
    for (const QScreen* screen : QGuiApplication::screens()) {
        // A screen keeps its top left corner in both.
        const QRect area = screen->geometry();
        const double ratio = screen->devicePixelRatio();
        if (QRect(area.topLeft(), area.size() * ratio).contains(point)) {
            return area.topLeft() + (point - area.topLeft()) / ratio;
        }
    }
    return point;
}
