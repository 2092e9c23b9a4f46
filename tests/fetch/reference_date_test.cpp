#include "fetch/last_price_cache.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <random>

namespace {

using namespace std::chrono;
using TimePoint = ReferenceDate::TimePoint;

TimePoint at(year_month_day day, nanoseconds offset = nanoseconds{0}) {
    return TimePoint{sys_days{day}.time_since_epoch() + offset};
}

// Instants whose seconds are known exactly; the literals are rounded by the compiler,
// independently of the code under test.
TEST(ReferenceDateTest, secondsSinceIsTheNearestDouble) {
    const struct {
        TimePoint time;
        double seconds;
    } cases[] = {
        {at(2001y / 1 / 1), 0.0},
        {at(2025y / 1 / 1), 757382400.0},
        {at(1970y / 1 / 1), -978307200.0},
        {at(2025y / 1 / 1, 500ms), 757382400.5},
        {at(2025y / 1 / 1, 123456789ns), 757382400.123456789},
        {at(2025y / 1 / 1, 999999999ns), 757382400.999999999},
        {at(2001y / 1 / 1, 1ns), 1e-9},
        {at(2001y / 1 / 1, -1ns), -1e-9},
        {at(2000y / 1 / 1, -250ms), -31622400.25},
        // Within a few years of the reference date, adding a rounded fraction to the whole
        // seconds would round twice and miss by one unit in the last place.
        {at(2001y / 1 / 1, 1493356754ns), 1.493356754},
        {at(2001y / 1 / 1, -156656341415ns), -156.656341415},
        {at(2001y / 1 / 1, 7687613547896ns), 7687.613547896},
        {at(2001y / 1 / 1, 173179415660699ns), 173179.415660699},
        {at(1999y / 12 / 31, 86399999999999ns), -31622400.000000001},
        {TimePoint::max(), 8245064836.854775807},
        {TimePoint::min(), -10201679236.854775808},
    };
    for (const auto& row : cases) {
        EXPECT_EQ(ReferenceDate::secondsSince(row.time), row.seconds)
            << row.time.time_since_epoch().count();
    }
}

TEST(ReferenceDateTest, timePointIsTheNearestNanosecond) {
    const struct {
        double seconds;
        TimePoint time;
    } cases[] = {
        {0.0, at(2001y / 1 / 1)},
        {757382400.0, at(2025y / 1 / 1)},
        {757382400.5, at(2025y / 1 / 1, 500ms)},
        {-978307200.0, at(1970y / 1 / 1)},
        {-31622400.25, at(2000y / 1 / 1, -250ms)},
        {1e-9, at(2001y / 1 / 1, 1ns)},
        {4e-10, at(2001y / 1 / 1)},
        {6e-10, at(2001y / 1 / 1, 1ns)},
        {-6e-10, at(2001y / 1 / 1, -1ns)},
        {1e-300, at(2001y / 1 / 1)},
        // Exactly half a nanosecond over: the even neighbour wins, either way.
        {757382400.0 + 0x1p-10, at(2025y / 1 / 1, 976562ns)},
        {757382400.0 + 3 * 0x1p-10, at(2025y / 1 / 1, 2929688ns)},
        {-0x1p-10, at(2001y / 1 / 1, -976562ns)},
        {8245064836.0, at(2262y / 4 / 11, 23h + 47min + 16s)},
        // 1677-09-21 00:12:44: counted from the Unix epoch, as the day's midnight is out of range.
        {-10201679236.0, at(1970y / 1 / 1, -9223372036s)},
    };
    for (const auto& row : cases) {
        const auto time = ReferenceDate::timePoint(row.seconds);
        ASSERT_TRUE(time.has_value()) << row.seconds;
        EXPECT_EQ(time->time_since_epoch().count(), row.time.time_since_epoch().count())
            << row.seconds;
    }
}

TEST(ReferenceDateTest, secondsOutsideTheTimePointsRangeHaveNoTimePoint) {
    const double cases[] = {
        8245064837.0,   // 2262-04-11 23:47:17, past the last nanosecond
        -10201679237.0, // 1677-09-21 00:12:43, before the first
        1e11,
        -1e11,
        1e300,
        -std::numeric_limits<double>::max(),
        std::numeric_limits<double>::infinity(),
        -std::numeric_limits<double>::infinity(),
        std::numeric_limits<double>::quiet_NaN(),
    };
    for (const double seconds : cases) {
        EXPECT_FALSE(ReferenceDate::timePoint(seconds).has_value()) << seconds;
    }
}

// Where a double is coarser than a nanosecond (from about 97 days after the reference
// date on), a stored number comes back as the same number.
TEST(ReferenceDateTest, aStoredNumberSurvivesTheTimePoint) {
    std::mt19937_64 random(20250101);
    std::uniform_real_distribution<double> spread(0x1p23, 8.2e9);
    for (int i = 0; i < 20000; ++i) {
        const double seconds = (i % 2 == 0 ? 1 : -1) * spread(random);
        const auto time = ReferenceDate::timePoint(seconds);
        ASSERT_TRUE(time.has_value()) << seconds;
        ASSERT_EQ(ReferenceDate::secondsSince(*time), seconds);
    }
}

// A time point goes to a double and back to within half a unit in the last place, and
// after that one step it stays put.
TEST(ReferenceDateTest, aTimePointComesBackWithinTheDoublesPrecision) {
    std::mt19937_64 random(757382400);
    std::uniform_int_distribution<std::int64_t> nanos(at(1700y / 1 / 1).time_since_epoch().count(),
                                                      at(2250y / 1 / 1).time_since_epoch().count());
    for (int i = 0; i < 20000; ++i) {
        const TimePoint time{nanoseconds{nanos(random)}};
        const double seconds = ReferenceDate::secondsSince(time);
        const auto back = ReferenceDate::timePoint(seconds);
        ASSERT_TRUE(back.has_value());
        const double halfUlp =
            (std::nextafter(std::fabs(seconds), INFINITY) - std::fabs(seconds)) / 2;
        ASSERT_LE(std::abs(static_cast<double>((*back - time).count())), halfUlp * 1e9 + 1)
            << time.time_since_epoch().count();
        ASSERT_EQ(ReferenceDate::timePoint(ReferenceDate::secondsSince(*back)), back);
    }
}

} // namespace
