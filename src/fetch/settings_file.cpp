#include "settings_file.h"

#include "fetch/atomic_file_writer.h"
#include "price/log_sink.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QStringConverter>
#include <QStringList>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// One line of the file and what it holds.
struct IniLine {
    QByteArray text; // as in the file, without its line end
    bool inGeneral = true;
    QString key;         // for a key line, unescaped; empty otherwise
    QByteArray rawValue; // for a key line: the text after "=", trimmed
};

struct IniDocument {
    QList<IniLine> lines;
    // Every line is blank, a comment, a section header or key=value, in UTF-8: a file
    // that a store may change without losing anything it did not understand.
    bool understood = true;
};

bool isKeyCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '-' || c == '.' || c == '%' || c == '\\';
}

// A key as QSettings escapes it: "\" for "/", "%XX" or "%UXXXX" for other characters.
std::optional<QString> unescapedKey(QByteArrayView raw) {
    QString key;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (!isKeyCharacter(c)) {
            return std::nullopt;
        }
        if (c == '\\') {
            key += QLatin1Char('/');
            continue;
        }
        const qsizetype digits = c == '%' && i + 1 < raw.size() && raw[i + 1] == 'U' ? 4 : 2;
        const qsizetype first = digits == 4 ? i + 2 : i + 1;
        bool ok = false;
        const uint code = c == '%' && first + digits <= raw.size()
                              ? raw.sliced(first, digits).toByteArray().toUInt(&ok, 16)
                              : 0;
        if (ok) {
            key += QChar(char16_t(code));
            i = first + digits - 1;
        } else {
            key += QLatin1Char(c);
        }
    }
    return key;
}

IniDocument parse(const QByteArray& text) {
    IniDocument document;
    auto decoder = QStringDecoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString decoded = decoder.decode(text);
    document.understood = !decoder.hasError();
    QList<QByteArray> pieces = text.split('\n');
    if (!pieces.isEmpty() && pieces.last().isEmpty()) {
        pieces.removeLast(); // the end of the last line
    }
    bool inGeneral = true;
    for (const QByteArray& piece : pieces) {
        IniLine line;
        line.text = piece; // a "\r" before the line end stays, as the whole line does
        const QByteArray trimmed = piece.trimmed();
        const qsizetype equals = trimmed.indexOf('=');
        if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
            inGeneral =
                trimmed.sliced(1, trimmed.size() - 2).compare("general", Qt::CaseInsensitive) == 0;
        } else if (equals > 0) {
            const auto key = unescapedKey(QByteArrayView(trimmed).first(equals).trimmed());
            if (key) {
                line.key = *key;
                line.rawValue = trimmed.sliced(equals + 1).trimmed();
            } else {
                document.understood = false;
            }
        } else if (!trimmed.isEmpty() && !trimmed.startsWith(';') && !trimmed.startsWith('#')) {
            document.understood = false;
        }
        line.inGeneral = inGeneral;
        document.lines.append(std::move(line));
    }
    return document;
}

// A value's text with QSettings' quoting and escapes undone; a list where commas stand
// outside quotes. Runs of plain bytes are UTF-8, an escape gives the character it codes.
QVariant unescapedValue(QByteArrayView raw) {
    QString current;
    QStringList list;
    bool isList = false;
    bool quoted = false;
    qsizetype i = 0;
    const auto hexValue = [](char c) {
        return c >= '0' && c <= '9'   ? c - '0'
               : c >= 'a' && c <= 'f' ? c - 'a' + 10
               : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                      : -1;
    };
    while (i < raw.size()) {
        const char c = raw[i];
        if (c == '\\' && i + 1 < raw.size()) {
            const char code = raw[i + 1];
            i += 2;
            static const char plain[] = "abfnrtv\"?'\\";
            static const char meant[] = "\a\b\f\n\r\t\v\"?'\\";
            if (const char* found = std::strchr(plain, code); found != nullptr && code != '\0') {
                current += QLatin1Char(meant[found - plain]);
            } else if (code == 'x' || (code >= '0' && code <= '7')) {
                const int base = code == 'x' ? 16 : 8;
                uint value = code == 'x' ? 0 : uint(code - '0');
                while (i < raw.size() && hexValue(raw[i]) >= 0 && hexValue(raw[i]) < base) {
                    value = value * base + uint(hexValue(raw[i++]));
                }
                current += QChar(char16_t(value));
            }
        } else if (c == '\\') {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
            ++i;
        } else if (c == ',' && !quoted) {
            isList = true;
            list.append(current.trimmed());
            current.clear();
            ++i;
        } else {
            qsizetype end = i + 1;
            while (end < raw.size() && raw[end] != '\\' && raw[end] != '"' && raw[end] != ',') {
                ++end;
            }
            current += QString::fromUtf8(raw.sliced(i, end - i));
            i = end;
        }
    }
    if (isList) {
        list.append(current.trimmed());
        return list;
    }
    if (current.startsWith(QLatin1String("@ByteArray(")) && current.endsWith(QLatin1Char(')'))) {
        return current.sliced(11, current.size() - 12).toLatin1();
    }
    if (current.startsWith(QLatin1String("@@"))) {
        return current.sliced(1);
    }
    if (current.startsWith(QLatin1Char('@'))) {
        return QVariant(); // @Variant(...), @Invalid() and the like: kept, never read
    }
    return current;
}

// A byte string as QSettings writes it: "@ByteArray(...)", with quotes, backslashes,
// control characters and bytes above 0x7e escaped, and quoted when it holds ';', ',' or
// '='.
QByteArray escapedByteArray(const QByteArray& bytes) {
    QByteArray out = "@ByteArray(";
    bool hexBefore = false; // a hex escape must not be followed by a bare hex digit
    bool needsQuotes = false;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        needsQuotes = needsQuotes || c == ';' || c == ',' || c == '=';
        const bool hexDigit = std::isxdigit(byte) != 0;
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
            hexBefore = false;
        } else if (byte < 0x20 || byte >= 0x7f || (hexBefore && hexDigit)) {
            out += "\\x" + QByteArray::number(byte, 16);
            hexBefore = true;
        } else {
            out += c;
            hexBefore = false;
        }
    }
    out += ')';
    return needsQuotes ? '"' + out + '"' : out;
}

// Says each problem with the file once a run: the file is read at every start and again
// before every store, so the same problem would come up after every pass.
void complain(const QString& problem) {
    static QSet<QString> said;
    if (!problem.isEmpty() && !said.contains(problem)) {
        said.insert(problem);
        LogSink::write(problem.toStdString());
    }
}

struct FileRead {
    std::optional<IniDocument> document; // nullopt: unusable, `problem` says why
    QString problem;
    FileVersion version{}; // of the file read; `exists` false when there is none
    mode_t mode = 0;
};

FileRead readFile(const QString& path) {
    const QString where = QStringLiteral("[ticker] settings file ") + path;
    // Without waiting: a FIFO in the file's place must not hold up the start.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return {IniDocument{}, {}, {}, 0};
        }
        return {std::nullopt,
                where + " cannot be read: " + QString::fromLocal8Bit(std::strerror(errno))};
    }
    struct stat status {};
    QByteArray text;
    QString problem;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = where + " is not a regular file; using the defaults";
    } else if (status.st_size > SettingsFile::maxFileBytes) {
        problem = where + " is larger than 1 MiB; using the defaults";
    } else {
        // Room for the size it has, and for it to grow past the limit while it is read.
        qsizetype got = 0;
        text.resize(qsizetype(status.st_size) + 1);
        while (got <= SettingsFile::maxFileBytes) {
            if (got == text.size()) {
                text.resize(std::min(text.size() * 2, SettingsFile::maxFileBytes + 1));
            }
            const ssize_t n = ::read(fd, text.data() + got, std::size_t(text.size() - got));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                if (n < 0) {
                    problem =
                        where + " cannot be read: " + QString::fromLocal8Bit(std::strerror(errno));
                }
                break;
            }
            got += n;
        }
        text.truncate(got);
        if (problem.isEmpty() && got > SettingsFile::maxFileBytes) {
            problem = where + " is larger than 1 MiB; using the defaults";
        }
    }
    ::close(fd);
    if (!problem.isEmpty()) {
        return {std::nullopt, problem};
    }
    return {parse(text), {}, FileVersion::of(status), status.st_mode};
}

const IniLine* lineOf(const IniDocument& document, const QString& key) {
    // QSettings keeps the last of repeated keys.
    for (auto line = document.lines.crbegin(); line != document.lines.crend(); ++line) {
        if (line->inGeneral && line->key == key) {
            return &*line;
        }
    }
    return nullptr;
}

std::optional<QVariant> valueIn(const IniDocument& document, const QString& key) {
    const IniLine* line = lineOf(document, key);
    return line ? std::optional(unescapedValue(line->rawValue)) : std::nullopt;
}

// The document's text with `key` in [General] set to the byte string `value`: its line
// replaced where it has one, else added after the group's last key.
QByteArray withValue(const IniDocument& document, const QString& key, const QByteArray& value) {
    QList<QByteArray> lines;
    const QByteArray line = key.toLatin1() + '=' + escapedByteArray(value);
    qsizetype lastInGeneral = -1;
    qsizetype generalHeader = -1;
    bool replaced = false;
    for (const IniLine& old : document.lines) {
        if (old.inGeneral && old.key == key) {
            lines.append(line);
            replaced = true;
        } else {
            lines.append(old.text);
        }
        if (old.inGeneral && !old.key.isEmpty()) {
            lastInGeneral = lines.size() - 1;
        } else if (old.inGeneral && old.text.trimmed().startsWith('[')) {
            generalHeader = lines.size() - 1;
        }
    }
    if (!replaced) {
        if (lastInGeneral >= 0 || generalHeader >= 0) {
            lines.insert(std::max(lastInGeneral, generalHeader) + 1, line);
        } else {
            if (!lines.isEmpty()) {
                lines.append(QByteArray());
            }
            lines.append("[General]");
            lines.append(line);
        }
    }
    return lines.join('\n') + '\n';
}

} // namespace

QString userFile(const char* variable, const char* fallback, const char* name) {
    QString base = qEnvironmentVariable(variable);
    if (base.isEmpty() || QDir::isRelativePath(base)) {
        base = QDir::homePath() + QLatin1Char('/') + QLatin1String(fallback);
    }
    return base + QStringLiteral("/brimwell-ticker/") + QLatin1String(name);
}

QString SettingsFile::defaultPath() {
    return userFile("XDG_CONFIG_HOME", ".config", "brimwell-ticker.conf");
}

SettingsFile::SettingsFile(QString path) : path_(std::move(path)) {}

std::optional<QVariant> SettingsFile::value(const QString& key) const {
    auto entry = entries({key}).front();
    return entry ? std::optional(std::move(entry->value)) : std::nullopt;
}

std::vector<std::optional<SettingsFile::Entry>>
SettingsFile::entries(const QStringList& keys) const {
    const FileRead read = readFile(path_);
    complain(read.problem);
    std::vector<std::optional<Entry>> found;
    for (const QString& key : keys) {
        const IniLine* line = read.document ? lineOf(*read.document, key) : nullptr;
        found.push_back(line ? std::optional(Entry{unescapedValue(line->rawValue),
                                                   QString::fromUtf8(line->rawValue)})
                             : std::nullopt);
    }
    return found;
}

std::optional<double> SettingsFile::number(const QString& key) const {
    const auto found = value(key);
    if (!found || found->typeId() != QMetaType::QString) {
        return std::nullopt;
    }
    bool ok = false;
    const double number = found->toString().toDouble(&ok); // the C locale's form, always
    return ok ? std::optional(number) : std::nullopt;
}

double SettingsFile::updateInterval() const {
    return number(QString::fromLatin1(updateIntervalKey)).value_or(defaultUpdateInterval);
}

Currency SettingsFile::currency() const {
    const auto entry = entries({QString::fromLatin1(currencyKey)}).front();
    const bool text = entry && entry->value.typeId() == QMetaType::QString;
    if (!entry || (text && entry->value.toString().isEmpty())) {
        return Currency::usd();
    }
    if (const auto found =
            text ? Currency::fromCode(entry->value.toString().toStdString()) : std::nullopt) {
        return *found;
    }
    complain(QStringLiteral("[ticker] ") + QString::fromLatin1(currencyKey) + QStringLiteral(" '") +
             entry->text + QStringLiteral("' is not a currency; using USD"));
    return Currency::usd();
}

std::optional<QByteArray> SettingsFile::readData(const QString& key) const {
    const auto found = value(key);
    if (!found || found->typeId() != QMetaType::QByteArray) {
        return std::nullopt;
    }
    return found->toByteArray();
}

bool SettingsFile::writeData(const QString& key, const QByteArray& value) {
    const QString where = QStringLiteral("[ticker] settings file ") + path_;
    for (int attempt = 0; attempt < maxStoreAttempts; ++attempt) {
        const FileRead read = readFile(path_);
        if (!read.document) {
            complain(read.problem);
            return false;
        }
        if (!read.document->understood) {
            complain(where + " holds lines that are not settings; not writing to it");
            return false;
        }
        if (read.version.exists && (read.mode & S_IWUSR) == 0) {
            complain(where + " is read-only; not writing to it");
            return false;
        }
        const QByteArray text = withValue(*read.document, key, value);
        // The new text must give the value back before it may replace the file.
        if (valueIn(parse(text), key) != QVariant(value)) {
            return false;
        }
        if (!QDir().mkpath(QFileInfo(path_).absolutePath())) {
            complain(where +
                     " could not be written: " + QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        }
        switch (AtomicFileWriter::write(path_, text, read.version)) {
        case AtomicFileWriter::Result::written:
            return true;
        case AtomicFileWriter::Result::failed:
            complain(where +
                     " could not be written: " + QString::fromLocal8Bit(std::strerror(errno)));
            return false;
        case AtomicFileWriter::Result::fileChanged:
            break; // saved by someone else meanwhile: their file, with this one line changed
        }
    }
    complain(where + " kept changing while a value was stored; not written this time");
    return false;
}
