#include "bar_format.h"

std::optional<BarFormat> parseBarFormat(std::string_view name) {
    if (name == "plain") {
        return BarFormat::plain;
    }
    if (name == "waybar") {
        return BarFormat::waybar;
    }
    if (name == "i3bar") {
        return BarFormat::i3bar;
    }
    return std::nullopt;
}
