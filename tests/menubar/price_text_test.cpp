#include "view/price_text.h"
#include "view/price_text.h"
#include "qt_printers.h"

#include <QLocale>
#include <QString>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <optional>

namespace {

using namespace Qt::StringLiterals;

BitcoinPrice priceOf(double usd) {
    return BitcoinPrice{usd, {}, "coinbase"};
}

struct PriceTextCase {
    QLocale locale;
    double usd;
    QString title;   // the panel title: always "," between groups
    QString popover; // the popover's large price: the locale's own separator
};

const QLocale enUS(QLocale::English, QLocale::UnitedStates);
const QLocale deDE(QLocale::German, QLocale::Germany);
const QLocale frFR(QLocale::French, QLocale::France);          // groups with U+202F
const QLocale nbNO(QLocale::NorwegianBokmal, QLocale::Norway); // U+00A0, minus U+2212
const QLocale deCH(QLocale::German, QLocale::Switzerland);     // U+2019
const QLocale hiIN(QLocale::Hindi, QLocale::India);        // groups of two above the first three
const QLocale arEG(QLocale::Arabic, QLocale::Egypt);       // Arabic-Indic digits, U+066C
const QLocale bnBD(QLocale::Bengali, QLocale::Bangladesh); // Bengali digits, groups of two

const PriceTextCase priceTextCases[] = {
    // Rounding to whole dollars, half to even.
    {enUS, 67432.49, u"₿ 67,432"_s, u"₿ 67,432"_s},
    {enUS, 1234567.8, u"₿ 1,234,568"_s, u"₿ 1,234,568"_s},
    {enUS, 998.5, u"₿ 998"_s, u"₿ 998"_s},
    {enUS, 999.5, u"₿ 1,000"_s, u"₿ 1,000"_s},
    {enUS, 67432.5, u"₿ 67,432"_s, u"₿ 67,432"_s},
    {enUS, 67433.5, u"₿ 67,434"_s, u"₿ 67,434"_s},
    {enUS, 0.5, u"₿ 0"_s, u"₿ 0"_s},
    {enUS, 1.5, u"₿ 2"_s, u"₿ 2"_s},
    {enUS, 2.5, u"₿ 2"_s, u"₿ 2"_s},
    {enUS, 0, u"₿ 0"_s, u"₿ 0"_s},
    {enUS, -0.4, u"₿ 0"_s, u"₿ 0"_s},
    {enUS, -1234567.5, u"₿ -1,234,568"_s, u"₿ -1,234,568"_s},
    // Values far beyond any price are still written in full.
    {enUS, 1e19, u"₿ 10,000,000,000,000,000,000"_s, u"₿ 10,000,000,000,000,000,000"_s},
    {deDE, 1e19, u"₿ 10,000,000,000,000,000,000"_s, u"₿ 10.000.000.000.000.000.000"_s},
    // Other separators: the title keeps ",", the popover takes the locale's.
    {deDE, 67432.49, u"₿ 67,432"_s, u"₿ 67.432"_s},
    {deDE, 1234567.8, u"₿ 1,234,568"_s, u"₿ 1.234.568"_s},
    {frFR, 67432.49, u"₿ 67,432"_s, u"₿ 67\u202F432"_s},
    {nbNO, 1234567.8, u"₿ 1,234,568"_s, u"₿ 1\u00A0234\u00A0568"_s},
    {nbNO, -67432.49, u"₿ \u221267,432"_s, u"₿ \u221267\u00A0432"_s},
    {deCH, 1234567.8, u"₿ 1,234,568"_s, u"₿ 1\u2019234\u2019568"_s},
    // Group sizes and digit shapes come from the locale in both texts.
    {hiIN, 1234567.8, u"₿ 12,34,568"_s, u"₿ 12,34,568"_s},
    {arEG, 1234567.8, u"₿ ١,٢٣٤,٥٦٨"_s, u"₿ ١٬٢٣٤٬٥٦٨"_s},
    {bnBD, 1234567.8, u"₿ ১২,৩৪,৫৬৮"_s, u"₿ ১২,৩৪,৫৬৮"_s},
};

TEST(PriceTextTest, titleAndPopoverPricePerLocale) {
    for (const auto& [locale, usd, title, popover] : priceTextCases) {
        SCOPED_TRACE(locale.name().toStdString() + " " + std::to_string(usd));
        EXPECT_EQ(statusItemTitle(priceOf(usd), locale), title);
        EXPECT_EQ(formattedPrice(usd, locale), popover);
    }
}

TEST(PriceTextTest, titleWithoutPriceIsThePlaceholder) {
    for (const QLocale& locale : {enUS, deDE, arEG}) {
        EXPECT_EQ(statusItemTitle(std::nullopt, locale), u"\u20BF ..."_s);
    }
}

// The C locale leaves grouping out unless asked; both texts group all the same.
TEST(PriceTextTest, groupsEvenWhereTheLocaleOmitsGroupingByDefault) {
    const QLocale c = QLocale::c();
    ASSERT_TRUE(c.numberOptions().testFlag(QLocale::OmitGroupSeparator));
    EXPECT_EQ(statusItemTitle(priceOf(1234567.8), c), u"₿ 1,234,568"_s);
    EXPECT_EQ(formattedPrice(1234567.8, c), u"₿ 1,234,568"_s);

    QLocale omitting = deDE;
    omitting.setNumberOptions(QLocale::OmitGroupSeparator);
    EXPECT_EQ(statusItemTitle(priceOf(67432.49), omitting), u"₿ 67,432"_s);
    EXPECT_EQ(formattedPrice(67432.49, omitting), u"₿ 67.432"_s);
}

// A value the locale writes as a word rather than digits gets the plain-digits text,
// in ASCII digits whatever the locale.
TEST(PriceTextTest, valuesWithoutDigitsFallBackToPlainDigits) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double usd;
        QString text;
    } cases[] = {
        {inf, u"₿ 9223372036854775807"_s},
        {-inf, u"₿ -9223372036854775808"_s},
        {nan, u"₿ 0"_s},
    };
    for (const auto& [usd, text] : cases) {
        for (const QLocale& locale : {enUS, deDE, arEG}) {
            SCOPED_TRACE(locale.name().toStdString() + " " + std::to_string(usd));
            EXPECT_EQ(statusItemTitle(priceOf(usd), locale), text);
            EXPECT_EQ(formattedPrice(usd, locale), text);
        }
    }
}

} // namespace
