#include "log_sink.h"

#include <cstdio>
#include <mutex>
#include <syslog.h>
#include <unistd.h>

namespace {

std::mutex writerMutex;
LogSink::Writer currentWriter;

void writeToSystem(std::string_view line) {
    static std::once_flag opened;
    std::call_once(opened, [] { openlog("brimwell-ticker", LOG_PID, LOG_USER); });

    std::string withNewline(line);
    syslog(LOG_USER | LOG_NOTICE, "%s", withNewline.c_str());
    withNewline += '\n';
    // One write call per line, so lines from several threads never interleave.
    for (std::string_view rest = withNewline; !rest.empty();) {
        const ssize_t written = ::write(STDERR_FILENO, rest.data(), rest.size());
        if (written <= 0) {
            break;
        }
        rest.remove_prefix(static_cast<std::size_t>(written));
    }
}

} // namespace

std::string LogSink::oneLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (const char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

void LogSink::write(std::string_view line) {
    const std::string clean = oneLine(line);
    std::lock_guard lock(writerMutex);
    if (currentWriter) {
        currentWriter(clean);
    } else {
        writeToSystem(clean);
    }
}

LogSink::Writer LogSink::exchangeWriter(Writer writer) {
    std::lock_guard lock(writerMutex);
    std::swap(writer, currentWriter);
    return writer;
}
