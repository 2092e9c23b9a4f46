#include "view/price_text.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace {

using namespace Qt::StringLiterals;
using std::chrono::seconds;

struct AgeCase {
    seconds age;
    QString withSeconds;
    QString withMinutes;
};

const AgeCase ageCases[] = {
    {seconds{0}, u"0 sec"_s, u"less than 1 min"_s},
    {seconds{5}, u"5 sec"_s, u"less than 1 min"_s},
    {seconds{59}, u"59 sec"_s, u"less than 1 min"_s},
    {seconds{60}, u"1 min"_s, u"1 min"_s},
    {seconds{61}, u"1 min, 1 sec"_s, u"1 min"_s},
    {seconds{119}, u"1 min, 59 sec"_s, u"1 min"_s},
    {seconds{125}, u"2 min, 5 sec"_s, u"2 min"_s},
    {seconds{3599}, u"59 min, 59 sec"_s, u"59 min"_s},
    {seconds{3600}, u"1 hr"_s, u"1 hr"_s},
    // Only the unit next to the largest is added, and only when it is not zero.
    {seconds{3605}, u"1 hr"_s, u"1 hr"_s},
    {seconds{3660}, u"1 hr, 1 min"_s, u"1 hr, 1 min"_s},
    {seconds{3661}, u"1 hr, 1 min"_s, u"1 hr, 1 min"_s},
    {seconds{3780}, u"1 hr, 3 min"_s, u"1 hr, 3 min"_s},
    {seconds{86399}, u"23 hr, 59 min"_s, u"23 hr, 59 min"_s},
    {seconds{86400}, u"1 day"_s, u"1 day"_s},
    {seconds{86460}, u"1 day"_s, u"1 day"_s},
    {seconds{90000}, u"1 day, 1 hr"_s, u"1 day, 1 hr"_s},
    {seconds{93600}, u"1 day, 2 hr"_s, u"1 day, 2 hr"_s},
    {seconds{172800}, u"2 days"_s, u"2 days"_s},
    {seconds{176400}, u"2 days, 1 hr"_s, u"2 days, 1 hr"_s},
    {seconds{259200}, u"3 days"_s, u"3 days"_s},
    // A quote from the future shows how far ahead it is.
    {seconds{-5}, u"5 sec"_s, u"less than 1 min"_s},
    {seconds{-59}, u"59 sec"_s, u"less than 1 min"_s},
    {seconds{-125}, u"2 min, 5 sec"_s, u"2 min"_s},
    {seconds{-90000}, u"1 day, 1 hr"_s, u"1 day, 1 hr"_s},
    // The ends of the range, including the one whose negation does not fit.
    {seconds::max(), u"106751991167300 days, 15 hr"_s, u"106751991167300 days, 15 hr"_s},
    {seconds::min(), u"106751991167300 days, 15 hr"_s, u"106751991167300 days, 15 hr"_s},
};

TEST(RelativeAgeTest, largestUnitAndTheNextWhenNotZero) {
    for (const auto& [age, withSeconds, withMinutes] : ageCases) {
        SCOPED_TRACE(std::to_string(age.count()) + " s");
        EXPECT_EQ(relativeAge(age, AgeGranularity::seconds), withSeconds);
        EXPECT_EQ(relativeAge(age, AgeGranularity::minutes), withMinutes);
    }
}

TEST(RelativeAgeTest, showsSecondsUnlessAskedNotTo) {
    EXPECT_EQ(relativeAge(seconds{125}), u"2 min, 5 sec"_s);
}

} // namespace
