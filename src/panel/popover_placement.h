#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>

// Where a popup of `size` opens for a click on a panel item at `anchor`, so that it covers
// no panel: the panel is on the side of the work area (`available`, the screen without its
// panels) that the anchor lies beyond, and the popup opens below a top panel, above a
// bottom one, beside a side one, centred on the anchor along the panel. An anchor inside the
// work area (no panel known there) opens it below the anchor in the upper half of `screen`
// and above it in the lower half. The result keeps `margin` pixels inside the work area.
QPoint popoverPosition(QPoint anchor, QSize size, const QRect& screen, const QRect& available,
                       int margin);

// A point in a screen's device pixels (as a panel host gives the place of a click) in Qt's
// coordinates, which differ on a scaled screen.
QPoint fromDevicePixels(QPoint point);
