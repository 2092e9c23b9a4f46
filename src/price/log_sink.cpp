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

// The length of the well-formed UTF-8 sequence that `text` starts with, 0 if it starts
// with none: no overlong forms, no surrogates, nothing past U+10FFFF.
std::size_t utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) {
        return static_cast<unsigned char>(text[i]);
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    std::size_t length = 0;
    unsigned char low = 0x80; // the allowed range of the second byte
    unsigned char high = 0xbf;
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t k = 2; k < length; ++k) {
        if (byte(k) < 0x80 || byte(k) > 0xbf) {
            return 0;
        }
    }
    return length;
}

// C0 controls, DEL, and the C1 controls U+0080 to U+009F (which terminals act on too).
bool isControl(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence[0]);
    if (sequence.size() == 1) {
        return lead < 0x20 || lead == 0x7f;
    }
    return sequence.size() == 2 && lead == 0xc2 && static_cast<unsigned char>(sequence[1]) < 0xa0;
}

} // namespace

std::string LogSink::oneLine(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    while (!line.empty()) {
        const std::size_t length = utf8SequenceLength(line);
        const std::size_t taken = length == 0 ? 1 : length;
        const std::string_view piece = line.substr(0, taken);
        line.remove_prefix(taken);
        if (piece == "\n") {
            out += "\\n";
        } else if (piece == "\r") {
            out += "\\r";
        } else if (piece == "\t") {
            out += "\\t";
        } else if (length == 0 || isControl(piece)) {
            // A control character, or a byte that is not part of well-formed UTF-8 (a
            // service's answer may hold anything): one escape per byte.
            for (const char c : piece) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(c));
                out += escaped;
            }
        } else {
            out += piece;
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
