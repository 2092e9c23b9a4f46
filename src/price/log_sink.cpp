#include "log_sink.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

std::mutex writerMutex;
LogSink::Writer currentWriter;

// Where stderr lines go, and how to write there without ever waiting: a line that cannot
// be written at once is dropped and counted.
struct StderrTarget {
    int fd = STDERR_FILENO;
    bool socket = false;  // the journal's stream socket under systemd
    bool checked = false; // a pipe or terminal that could not be reopened: poll first
    std::uint64_t dropped = 0;
};

StderrTarget openStderr() {
    StderrTarget target;
    struct stat status {};
    if (::fstat(STDERR_FILENO, &status) != 0) {
        return target;
    }
    if (S_ISSOCK(status.st_mode)) {
        target.socket = true;
    } else if (S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode)) {
        target.fd = openWithoutWaiting(STDERR_FILENO);
        target.checked = target.fd == STDERR_FILENO;
    }
    return target;
}

// Writes all of `text` at once or nothing; false when it would have had to wait.
bool writeNow(const StderrTarget& target, std::string_view text) {
    if (target.checked) {
        // A pipe that reports room takes a write of up to PIPE_BUF bytes whole.
        pollfd ready{target.fd, POLLOUT, 0};
        if (::poll(&ready, 1, 0) != 1 || (ready.revents & POLLOUT) == 0) {
            return false;
        }
    }
    const ssize_t written =
        target.socket ? ::send(target.fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL)
                      : ::write(target.fd, text.data(), text.size());
    return written == static_cast<ssize_t>(text.size());
}

// The system log's datagram socket, written without waiting as stderr is.
void writeToSyslog(std::string_view line) {
    static const int socket = [] {
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "/dev/log");
        if (fd >= 0 &&
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            ::close(fd);
            return -1;
        }
        return fd;
    }();
    if (socket < 0) {
        return;
    }
    // <13>: the user facility at notice level, as syslog(3) would send it.
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    tm local{};
    ::localtime_r(&now, &local);
    std::strftime(stamp, sizeof stamp, "%b %e %T", &local);
    const std::string message = "<13>" + std::string(stamp) + " brimwell-ticker[" +
                                std::to_string(::getpid()) + "]: " + std::string(line);
    ::send(socket, message.data(), message.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
}

void writeToSystem(std::string_view line) {
    static StderrTarget target = openStderr();
    writeToSyslog(line);
    std::string text;
    if (target.dropped > 0) {
        text = "[ticker] " + std::to_string(target.dropped) +
               " log lines dropped: stderr was not being read\n";
    }
    text += line;
    text += '\n';
    // One write call per line, so lines from several processes never interleave.
    if (writeNow(target, text)) {
        target.dropped = 0;
    } else {
        ++target.dropped;
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
    out.reserve(std::min(line.size(), maxLineBytes));
    while (!line.empty()) {
        // A piece adds at most 8 bytes and the ellipsis 3, so the line stays within the
        // bound; pieces are whole characters, so the cut falls between two.
        if (out.size() > maxLineBytes - 12) {
            out += "\u2026";
            break;
        }
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

int openWithoutWaiting(int fd) {
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !(S_ISFIFO(status.st_mode) || S_ISCHR(status.st_mode))) {
        return fd;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    const int own = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    return own >= 0 ? own : fd;
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
