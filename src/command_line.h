#pragma once

#include "bar/bar_stream.h"
#include "price/https_transfer.h"

#include <expected>
#include <optional>
#include <string>
#include <vector>

// What the user asked for on the command line.
struct CommandLine {
    enum class Mode { panel, bar, once, help, version };

    Mode mode = Mode::panel;
    BarFormat barFormat = BarFormat::plain;
    std::optional<double> interval; // this run's, instead of the stored one
    // This run's alert levels, instead of the stored ones.
    std::optional<double> alertAbove;
    std::optional<double> alertBelow;
    std::optional<Currency> currency; // this run's, instead of the stored one
    RequestOptions request;

    static const char* const usage;

    // A one-line reason naming the argument when the arguments make no sense; control
    // characters in it are escaped.
    static std::expected<CommandLine, std::string> parse(const std::vector<std::string>& arguments);
};
