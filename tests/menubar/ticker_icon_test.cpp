#include "menubar/ticker_icon.h"

#include <QSvgRenderer>
#include <gtest/gtest.h>

namespace {

TEST(TickerIconTest, theDocumentIsAValidSvg) {
    const QByteArray svg = TickerIcon::svg();
    ASSERT_FALSE(svg.isEmpty());
    QSvgRenderer renderer(svg);
    EXPECT_TRUE(renderer.isValid());
    EXPECT_FALSE(svg.contains("<text")) << "the sign must not depend on a font";
}

TEST(TickerIconTest, rendersTheSignOnADiscAtEachStandardSize) {
    const QList<QImage> images = TickerIcon::renderStandardSizes();
    const QList<int> sizes = TickerIcon::standardSizes();
    ASSERT_EQ(sizes, (QList<int>{16, 22, 24, 32, 48}));
    ASSERT_EQ(images.size(), sizes.size());
    for (qsizetype i = 0; i < images.size(); ++i) {
        const QImage& image = images[i];
        const int size = sizes[i];
        SCOPED_TRACE(size);
        EXPECT_EQ(image.size(), QSize(size, size));
        EXPECT_EQ(image.format(), QImage::Format_ARGB32);
        // Outside the disc nothing is drawn.
        for (const QPoint corner :
             {QPoint(0, 0), QPoint(size - 1, 0), QPoint(0, size - 1), QPoint(size - 1, size - 1)}) {
            EXPECT_EQ(qAlpha(image.pixel(corner)), 0);
        }
        int orange = 0;
        int white = 0;
        for (int y = 0; y < size; ++y) {
            for (int x = 0; x < size; ++x) {
                const QColor colour = QColor::fromRgba(image.pixel(x, y));
                if (colour.alpha() == 255 && colour.red() > 240 && colour.green() > 240 &&
                    colour.blue() > 240) {
                    ++white;
                } else if (colour.alpha() == 255 && colour.red() > 230 && colour.green() > 130 &&
                           colour.green() < 160 && colour.blue() < 40) {
                    ++orange;
                }
            }
        }
        // The disc covers most of the square and the sign a good part of the disc.
        EXPECT_GT(orange, size * size / 4);
        EXPECT_GT(white, size * size / 12);
    }
}

} // namespace
