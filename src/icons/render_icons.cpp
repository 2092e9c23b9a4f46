// Renders the icon when the program is built, so that nothing renders it at run time:
//   render_icons SVG SOURCE THEME_DIR
// writes SOURCE (C++: the pixels of every size and variant) and
// THEME_DIR/hicolor/NxN/apps/NAME.png for each.
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

namespace {

constexpr int sizes[] = {16, 22, 24, 32, 48, 64};

// Muted: grey of the same lightness, at two thirds of the opacity, so that it reads as
// "not current" on dark and light panels alike.
QImage muted(const QImage& image) {
    QImage out = image;
    for (int y = 0; y < out.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x) {
            const int grey = qGray(line[x]);
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) * 2 / 3);
        }
    }
    return out;
}

QByteArray arrayOf(const QImage& image) {
    QByteArray text;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            for (const int shift : {24, 16, 8, 0}) { // network byte order
                text += QByteArray::number((line[x] >> shift) & 0xff) + ',';
            }
        }
        text += '\n';
    }
    return text;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 4) {
        std::fprintf(stderr, "usage: render_icons SVG SOURCE THEME_DIR\n");
        return 2;
    }
    QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
    const QString out = QString::fromLocal8Bit(argv[3]);
    if (!renderer.isValid()) {
        std::fprintf(stderr, "render_icons: cannot read %s\n", argv[1]);
        return 1;
    }
    QByteArray source = "// Made by render_icons from the icon's SVG; not to be edited.\n"
                        "#include \"icons/ticker_icons.h\"\n\nnamespace {\n";
    QByteArray tables[2];
    for (const int size : sizes) {
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter);
        painter.end();
        const QImage variants[2] = {image.convertToFormat(QImage::Format_ARGB32),
                                    muted(image.convertToFormat(QImage::Format_ARGB32))};
        for (int v = 0; v < 2; ++v) {
            const QByteArray name = v == 0 ? "brimwell-ticker" : "brimwell-ticker-stale";
            const QByteArray array =
                "pixels" + QByteArray::number(v) + "_" + QByteArray::number(size);
            source += "const unsigned char " + array + "[] = {\n" + arrayOf(variants[v]) + "};\n";
            tables[v] += "    {" + QByteArray::number(size) + ", " + array + "},\n";
            const QString directory = out + QStringLiteral("/hicolor/%1x%1/apps").arg(size);
            if (!QDir().mkpath(directory) ||
                !variants[v].save(directory + '/' + QString::fromLatin1(name) + ".png")) {
                std::fprintf(stderr, "render_icons: cannot write into %s\n", qPrintable(out));
                return 1;
            }
        }
    }
    source += "const IconImage normalImages[] = {\n" + tables[0] + "};\n";
    source += "const IconImage staleImages[] = {\n" + tables[1] + "};\n} // namespace\n\n";
    source += "std::span<const IconImage> tickerIconImages(IconVariant variant) {\n"
              "    if (variant == IconVariant::stale) {\n"
              "        return staleImages;\n"
              "    }\n"
              "    return normalImages;\n"
              "}\n";
    QFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::WriteOnly) || file.write(source) != source.size()) {
        std::fprintf(stderr, "render_icons: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
