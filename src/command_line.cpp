#include "command_line.h"

#include "price/log_sink.h"
#include "price/strict_json.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

const char* const CommandLine::usage =
    "usage: brimwell-ticker [--bar[=FORMAT] | --once] [--interval SECONDS]\n"
    "                       [--alert-above USD] [--alert-below USD]\n"
    "                       [--currency CODE]\n"
    "                       [--connect-to HOST:PORT:HOST2:PORT2]... [--cacert FILE]\n"
    "\n"
    "  (no option)              the panel agent; without a desktop session the title\n"
    "                           streams to stdout as with --bar=plain\n"
    "  --bar[=FORMAT]           for status bars; FORMAT plain (default), waybar or i3bar\n"
    "  --once                   one pass, then exit: the title on stdout; exit 0 with a\n"
    "                           price, 1 when every provider failed\n"
    "  --interval SECONDS       this run's update interval instead of the stored one\n"
    "  --alert-above USD, --alert-below USD\n"
    "                           this run's alert levels instead of the stored ones: a\n"
    "                           desktop notification when the price crosses one\n"
    "  --currency CODE          this run's currency instead of the stored one: USD, EUR,\n"
    "                           GBP, CAD, CHF, AUD or JPY (alert levels are in it)\n"
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
    return std::unexpected(LogSink::oneLine(reason));
}

// The options that take a value, after "=" or as the next argument.
bool takesValue(std::string_view name) {
    return name == "--interval" || name == "--alert-above" || name == "--alert-below" ||
           name == "--connect-to" || name == "--cacert" || name == "--currency";
}

// The currency the arguments choose, looked for before they are read in order, so that an
// alert level before "--currency" is judged in it too. Nothing is judged here.
std::optional<Currency> chosenCurrency(const std::vector<std::string>& arguments) {
    std::optional<Currency> chosen;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const auto equals = arguments[i].find('=');
        const std::string name = arguments[i].substr(0, equals);
        if (name == "--help" || name == "-h" || name == "--version") {
            break;
        }
        if (!takesValue(name)) {
            continue;
        }
        const bool attached = equals != std::string::npos;
        if (!attached && i + 1 == arguments.size()) {
            break;
        }
        const std::string value = attached ? arguments[i].substr(equals + 1) : arguments[++i];
        if (name == "--currency") {
            chosen = Currency::fromCode(value);
        }
    }
    return chosen;
}

bool isPort(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string_view::npos) {
        return false;
    }
    const int port = std::stoi(std::string(text));
    return port >= 1 && port <= 65535;
}

// A host name, an IPv4 address or an IPv6 address in brackets, then ":" and a port; the
// rest of `text` after it, or nullopt.
std::optional<std::string_view> hostAndPort(std::string_view text) {
    std::size_t hostEnd = 0;
    if (text.starts_with('[')) {
        hostEnd = text.find(']');
        if (hostEnd == std::string_view::npos || hostEnd < 2) {
            return std::nullopt;
        }
        ++hostEnd;
    } else {
        hostEnd = text.find(':');
        if (hostEnd == 0 || hostEnd == std::string_view::npos) {
            return std::nullopt;
        }
    }
    if (hostEnd >= text.size() || text[hostEnd] != ':') {
        return std::nullopt;
    }
    const std::string_view rest = text.substr(hostEnd + 1);
    const std::size_t portEnd = std::min(rest.find(':'), rest.size());
    if (!isPort(rest.substr(0, portEnd))) {
        return std::nullopt;
    }
    return rest.substr(portEnd);
}

// "HOST:PORT:HOST2:PORT2", each port a number from 1 to 65535.
bool isConnectTo(std::string_view text) {
    const auto rest = hostAndPort(text);
    if (!rest || !rest->starts_with(':')) {
        return false;
    }
    const auto end = hostAndPort(rest->substr(1));
    return end && end->empty();
}

// Whether `path` names a regular file this process can read; opened without waiting, as
// it may be a FIFO.
bool isReadableFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat status {};
    const bool regular = ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    ::close(fd);
    return regular;
}

} // namespace

Parsed CommandLine::parse(const std::vector<std::string>& arguments) {
    CommandLine line;
    bool once = false;
    bool bar = false;
    // What an alert level is a price in, for its message.
    const std::string levelUnit =
        std::string(chosenCurrency(arguments).value_or(Currency::usd()).name);
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
            if (!seconds || !std::isfinite(*seconds) || *seconds < 0) {
                return fail("--interval: '" + *text + "' is not a number of seconds (0 or more)");
            }
            line.interval = *seconds;
        } else if (name == "--alert-above" || name == "--alert-below") {
            const auto text = value();
            if (!text) {
                return fail(name + " needs a price in " + levelUnit);
            }
            const auto usd = parseDecimalPrice(*text);
            if (!usd || !isUsablePrice(*usd)) {
                return fail(name + ": '" + *text + "' is not a price in " + levelUnit);
            }
            (name == "--alert-above" ? line.alertAbove : line.alertBelow) = *usd;
        } else if (name == "--currency") {
            const auto text = value();
            if (!text) {
                return fail("--currency needs a currency code (" + Currency::codeList() + ")");
            }
            line.currency = Currency::fromCode(*text);
            if (!line.currency) {
                return fail("--currency: '" + *text + "' is not a currency (" +
                            Currency::codeList() + ")");
            }
        } else if (name == "--connect-to") {
            const auto text = value();
            if (!text || !isConnectTo(*text)) {
                return fail("--connect-to needs HOST:PORT:HOST2:PORT2 with numeric ports" +
                            (text ? ", got '" + *text + "'" : std::string()));
            }
            line.request.connectTo.push_back(*text);
        } else if (name == "--cacert") {
            const auto text = value();
            if (!text || text->empty()) {
                return fail("--cacert needs a file");
            }
            if (!isReadableFile(*text)) {
                return fail("--cacert: '" + *text + "' is not a readable file");
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
