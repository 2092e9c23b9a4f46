#include "command_line.h"

#include "price/decimal_price_text.h"

#include <algorithm>
#include <unistd.h>

const char* const CommandLine::usage =
    "usage: brimwell-ticker [--bar[=FORMAT] | --once] [--interval SECONDS]\n"
    "                       [--connect-to HOST:PORT:HOST2:PORT2]... [--cacert FILE]\n"
    "\n"
    "  (no option)              the panel agent; without a desktop session the title\n"
    "                           streams to stdout as with --bar=plain\n"
    "  --bar[=FORMAT]           for status bars; FORMAT plain (default), waybar or i3bar\n"
    "  --once                   one pass, then exit: the title on stdout; exit 0 with a\n"
    "                           price, 1 when every provider failed\n"
    "  --interval SECONDS       this run's update interval instead of the stored one\n"
    "  --connect-to HOST:PORT:HOST2:PORT2\n"
    "                           requests for HOST:PORT connect to HOST2:PORT2; TLS still\n"
    "                           checks HOST (repeatable)\n"
    "  --cacert FILE            trust the CA certificates in FILE instead of the system's\n"
    "  --version, --help\n"
    "\n"
    "SIGUSR1 fetches at once. Settings: $XDG_CONFIG_HOME/brimwell-ticker/brimwell-ticker.conf\n";

namespace {

using Parsed = std::expected<CommandLine, std::string>;

std::unexpected<std::string> fail(std::string reason) {
    return std::unexpected(std::move(reason));
}

} // namespace

Parsed CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool once = false;
    bool bar = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        std::optional<std::string> attached;
        if (equals != std::string::npos) {
            attached = argument.substr(equals + 1);
        }
        // The value of an option that takes one: after "=" or as the next argument.
        const auto value = [&]() -> std::optional<std::string> {
            if (attached) {
                return attached;
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            return std::nullopt;
        };

        if (name == "--help" || name == "-h") {
            line.mode = Mode::help;
            return line;
        }
        if (name == "--version") {
            line.mode = Mode::version;
            return line;
        }
        if (name == "--once" && !attached) {
            once = true;
        } else if (name == "--bar") {
            bar = true;
            if (attached) {
                const auto format = parseBarFormat(*attached);
                if (!format) {
                    return fail("--bar: unknown format '" + *attached +
                                "' (plain, waybar or i3bar)");
                }
                line.barFormat = *format;
            }
        } else if (name == "--interval") {
            const auto text = value();
            if (!text) {
                return fail("--interval needs a number of seconds");
            }
            const auto seconds = parseDecimalPrice(*text);
            if (!seconds) {
                return fail("--interval: '" + *text + "' is not a number of seconds");
            }
            line.interval = *seconds;
        } else if (name == "--connect-to") {
            const auto text = value();
            if (!text || std::count(text->begin(), text->end(), ':') < 3) {
                return fail("--connect-to needs HOST:PORT:HOST2:PORT2" +
                            (text ? ", got '" + *text + "'" : std::string()));
            }
            line.request.connectTo.push_back(*text);
        } else if (name == "--cacert") {
            const auto text = value();
            if (!text || text->empty()) {
                return fail("--cacert needs a file");
            }
            if (::access(text->c_str(), R_OK) != 0) {
                return fail("--cacert: cannot read '" + *text + "'");
            }
            line.request.caFile = *text;
        } else if (argument.starts_with("-")) {
            return fail("unknown option '" + argument + "'");
        } else {
            return fail("unexpected argument '" + argument + "'");
        }
    }
    if (once && bar) {
        return fail("--once and --bar cannot be used together");
    }
    line.mode = once ? Mode::once : bar ? Mode::bar : Mode::panel;
    return line;
}
