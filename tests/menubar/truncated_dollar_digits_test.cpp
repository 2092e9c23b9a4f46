#include "view/price_text.h"
#include "qt_printers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using namespace Qt::StringLiterals;

const double inf = std::numeric_limits<double>::infinity();
const double twoToThe63 = std::ldexp(1.0, 63);

TEST(TruncatedDollarDigitsTest, truncatesTowardZeroAndSaturatesOutsideTheRange) {
    const struct {
        double usd;
        QString digits;
    } cases[] = {
        {67432.99, u"67432"_s},
        {1234567.8, u"1234567"_s},
        {-67432.99, u"-67432"_s},
        {0.99, u"0"_s},
        {-0.99, u"0"_s},
        {0, u"0"_s},
        // The largest doubles inside the range convert exactly.
        {std::nextafter(twoToThe63, 0.0), u"9223372036854774784"_s},
        {-twoToThe63, u"-9223372036854775808"_s},
        // Beyond it: the nearest end of the range; NaN has no sign or size and gives 0.
        {twoToThe63, u"9223372036854775807"_s},
        {1e300, u"9223372036854775807"_s},
        {inf, u"9223372036854775807"_s},
        {std::nextafter(-twoToThe63, -inf), u"-9223372036854775808"_s},
        {-1e300, u"-9223372036854775808"_s},
        {-inf, u"-9223372036854775808"_s},
        {std::numeric_limits<double>::quiet_NaN(), u"0"_s},
    };
    for (const auto& [usd, digits] : cases) {
        SCOPED_TRACE(std::to_string(usd));
        EXPECT_EQ(truncatedDollarDigits(usd), digits);
    }
}

} // namespace
