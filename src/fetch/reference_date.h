#pragma once

#include <chrono>
#include <optional>

// Instants as seconds since 2001-01-01 00:00:00 UTC in a double, the form a stored
// timestamp takes. Both directions round to the nearest value, so a double that came from
// a time point turns back into the same double.
class ReferenceDate {
public:
    using TimePoint = std::chrono::system_clock::time_point;

    // 2001-01-01 00:00:00 UTC in seconds since the Unix epoch.
    static constexpr long long unixSeconds = 978'307'200;

    // The double nearest to the exact number of seconds from the reference date to `time`.
    static double secondsSince(TimePoint time);

    // The time point nearest to `seconds` after the reference date (a tie goes to the even
    // nanosecond); nullopt when `seconds` is not finite or the instant lies outside what a
    // time point can hold (about the years 1678 to 2262).
    static std::optional<TimePoint> timePoint(double seconds);
};
