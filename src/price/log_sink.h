#pragma once

#include <functional>
#include <string>
#include <string_view>

// The one place log lines leave the program: one line per event, to stderr and to the
// system log. A line is written as it stands, never read as a format. Writing never waits:
// a line that stderr cannot take at once (a pipe nobody reads) is dropped and counted, and
// the next line that gets through says how many were lost.
class LogSink {
public:
    // Longer lines are cut, so that a line always fits a pipe in one piece.
    static constexpr std::size_t maxLineBytes = 4000;

    using Writer = std::function<void(std::string_view line)>;

    // Safe to call from any thread.
    static void write(std::string_view line);

    // Sends every later line to `writer` instead, until it is replaced again; returns the
    // writer that was in place. Tests capture lines with it. An empty writer restores the
    // system log.
    static Writer exchangeWriter(Writer writer);

    // What a line becomes on its way out: control characters (a line break in a
    // description taken from a server, say) are written as escapes, so one event is
    // always one line and a server cannot forge a line of its own; bytes that are not
    // well-formed UTF-8 are escaped too, so the line stays readable text for the system
    // log. At most `maxLineBytes` bytes, cut with an ellipsis.
    static std::string oneLine(std::string_view line);
};

// A descriptor that writes to what `fd` writes to without ever waiting: for a pipe or a
// terminal a description of its own opened non-blocking, so that the one `fd` shares with
// other processes (a shell on the same terminal) stays as it is; `fd` itself otherwise, and
// when no such description can be had. The caller owns a descriptor other than `fd`.
int openWithoutWaiting(int fd);
