#pragma once

#include <QString>

#include <ostream>

// Readable failure messages: GoogleTest would otherwise print QString as raw bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
