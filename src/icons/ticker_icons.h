#pragma once

#include <cstddef>
#include <span>
#include <string_view>

// The program's icon, a BITCOIN SIGN on an orange disc, and its muted variant for a price
// that is stale, rendered from resources/brimwell-ticker.svg when the program is built:
// nothing draws an icon at run time.
enum class IconVariant { normal, stale };

// One rendered size: `size` x `size` pixels, ARGB32 with straight alpha, each pixel in
// network byte order (what a StatusNotifierItem sends).
struct IconImage {
    int size = 0;
    std::span<const unsigned char> argb;
};

// The sizes panels commonly draw at, smallest first.
std::span<const IconImage> tickerIconImages(IconVariant variant);

// The name of the icon in the hicolor theme ("brimwell-ticker", "brimwell-ticker-stale"),
// installed as PNG files of the same sizes (and the normal one as SVG too).
std::string_view tickerIconName(IconVariant variant);
