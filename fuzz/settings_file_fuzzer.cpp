// Any bytes as the whole settings file: reading it must not fail, and storing the last
// price must either leave the file as it was or change nothing but the stored line.

#include "check.h"
#include "fetch/settings_file.h"
#include "price/log_sink.h"

#include <QFile>

#include <algorithm>

static const QString key = QStringLiteral("BrimwellTicker.LastPrice");
// A record as the cache stores it: its quotes and commas need escaping and quoting.
static const QByteArray record = R"({"usd":67250.5,"timestamp":757382400,"source":"coin\"base"})";

// The lines of `text` that a store must keep, without their "\n": all but those that set
// the stored key in [General]. A key written with %-escapes may be that key too.
static QByteArrayList keptLines(const QByteArray& text) {
    QByteArrayList found;
    bool general = true;
    for (const QByteArray& line : text.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        const QByteArray name = trimmed.left(trimmed.indexOf('=')).trimmed();
        if (trimmed.startsWith('[') && trimmed.endsWith(']')) {
            general = trimmed.sliced(1, trimmed.size() - 2).toLower() == "general";
        } else if (general && trimmed.contains('=') &&
                   (name == key.toLatin1() || name.contains('%'))) {
            continue;
        }
        found.append(line);
    }
    return found;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    LogSink::exchangeWriter([](std::string_view) {}); // complaints about the file are expected
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const ScratchFile scratch("brimwell-ticker.conf", {input.constData(), size});
    QFile file(QString::fromStdString(scratch.path));
    SettingsFile settings(file.fileName());
    (void)settings.updateInterval(); // both read through value()
    (void)settings.readData(key);

    const bool stored = settings.writeData(key, record);
    require(stored || size > 0, "a store into an empty file failed");
    require(file.open(QIODevice::ReadOnly), "the settings file went away");
    const QByteArray after = file.readAll();
    if (!stored) {
        require(after == input, "a refused store changed the file");
        return 0;
    }
    require(settings.readData(key) == record, "a store does not read back");
    const QByteArrayList now = after.split('\n');
    auto next = now.begin();
    for (const QByteArray& line : keptLines(input)) {
        next = std::find(next, now.end(), line);
        require(next != now.end(), "a store lost or moved a line it does not set");
        ++next;
    }
    return 0;
}
