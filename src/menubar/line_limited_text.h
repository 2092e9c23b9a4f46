#pragma once

#include <QFont>
#include <QString>

// `text` wrapped at `width` pixels in `font`, cut to its first `maxLines` lines; when
// anything is cut, the last kept line ends in an ellipsis. Line breaks in `text` count.
QString lineLimitedText(const QString& text, const QFont& font, int width, int maxLines);
