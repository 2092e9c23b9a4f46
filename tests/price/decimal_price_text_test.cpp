#include "price/strict_json.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>
#include <optional>
#include <string>

namespace {

struct TextCase {
    std::string text;
    std::optional<double> expected; // nullopt: no number; NaN: a NaN
};

const double nan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

const TextCase textCases[] = {
    {"65000.12", 65000.12},
    {"6.5e4", 65000},
    {"6.5E+4", 65000},
    {"+42", 42},
    {"-5", -5},
    {"0", 0},
    {".5", 0.5},
    {"5.", 5},
    {"0x1p4", 16},
    {"0X1.8P-1", 0.75},
    {"-0x.8", -0.5},
    {"nan", nan},
    {"NaN", nan},
    {"inf", inf},
    {"Infinity", inf},
    {"1e400", inf},
    // no number
    {"", std::nullopt},
    {" 65000", std::nullopt},
    {"\t65000", std::nullopt},
    {"\n1", std::nullopt},
    {"\v1", std::nullopt},
    {"\f1", std::nullopt},
    {"\r1", std::nullopt},
    {"65000 ", std::nullopt},
    {"1,000.00", std::nullopt},
    {"1,5", std::nullopt},
    {"$65000", std::nullopt},
    {"65000USD", std::nullopt},
    {"abc", std::nullopt},
    {"1e", std::nullopt},
    // A binary exponent takes one sign at most, and "0x" needs a hexadecimal digit after it.
    {"0x2.07p+-68616", std::nullopt},
    {"0x1p-+1", std::nullopt},
    {"0x1p", std::nullopt},
    {"1e+-1", std::nullopt},
    {"0xinf", std::nullopt},
    {"-0x", std::nullopt},
    {"+-1", std::nullopt},
    {std::string("1\0"
                 "2",
                 3),
     std::nullopt},
};

TEST(DecimalPriceTextTest, readsTheWholeTextByPosixRules) {
    for (const auto& [text, expected] : textCases) {
        SCOPED_TRACE("text: '" + text + "'");
        const auto parsed = parseDecimalPrice(text);
        ASSERT_EQ(parsed.has_value(), expected.has_value());
        if (expected && std::isnan(*expected)) {
            EXPECT_TRUE(std::isnan(*parsed));
        } else if (expected) {
            EXPECT_EQ(*parsed, *expected);
        }
    }
}

// A locale whose decimal separator is a comma must not change the reading. The test
// switches the C locale only where the machine has such a locale.
TEST(DecimalPriceTextLocaleTest, periodIsTheSeparatorInEveryLocale) {
    const char* switched = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8"}) {
        if ((switched = std::setlocale(LC_NUMERIC, name))) {
            break;
        }
    }
    if (!switched) {
        GTEST_SKIP() << "no locale with a comma as decimal separator is installed";
    }
    EXPECT_EQ(parseDecimalPrice("65000.5"), 65000.5);
    EXPECT_EQ(parseDecimalPrice("65000,5"), std::nullopt);
    std::setlocale(LC_NUMERIC, "C");
}

} // namespace
