#pragma once

#include <functional>
#include <string>
#include <string_view>

// The one place log lines leave the program: one line per event, to stderr and to the
// system log. A line is written as it stands, never read as a format.
class LogSink {
public:
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
    // log.
    static std::string oneLine(std::string_view line);
};
