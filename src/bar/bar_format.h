#pragma once

#include <optional>
#include <string_view>

// How a status bar wants its records: the title alone, waybar's JSON objects, or the
// i3bar protocol.
enum class BarFormat { plain, waybar, i3bar };

std::optional<BarFormat> parseBarFormat(std::string_view name);
