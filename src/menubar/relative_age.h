#pragma once

#include <QString>

#include <chrono>

enum class AgeGranularity {
    seconds,
    // For outputs that must not change every second: never shows seconds.
    minutes,
};

// How old a quote is, as "5 sec", "2 min, 5 sec", "1 hr, 3 min", "1 day, 2 hr", "3 days":
// the largest non-zero unit, then the next smaller unit when that one is not zero. A
// negative age (a quote stamped in the future) shows its magnitude. With minutes
// granularity an age under a minute is "less than 1 min".
QString relativeAge(std::chrono::seconds age, AgeGranularity granularity = AgeGranularity::seconds);
