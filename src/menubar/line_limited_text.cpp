#include "line_limited_text.h"

#include <QFontMetrics>
#include <QTextLayout>
#include <QTextOption>

QString lineLimitedText(const QString& text, const QFont& font, int width, int maxLines) {
    if (maxLines <= 0) {
        return {};
    }
    QString flowing = text;
    flowing.replace('\n', QChar::LineSeparator);
    QTextLayout layout(flowing, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    int lastStart = 0;
    while (true) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(width);
        if (lines.size() == maxLines) {
            // There is more than fits: the last kept line takes the rest, elided.
            const QFontMetrics metrics(font);
            lines.last() =
                metrics.elidedText(flowing.mid(lastStart).simplified(), Qt::ElideRight, width);
            break;
        }
        lastStart = line.textStart();
        lines.append(flowing.mid(line.textStart(), line.textLength()).trimmed());
    }
    layout.endLayout();
    return lines.join('\n');
}
