#include "price/price_provider.h"
#include "price/price_provider.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>

namespace {

TEST(PriceErrorTest, rendersTheGenericSentenceWithDomainAndCode) {
    const struct {
        PriceError error;
        int code;
    } cases[] = {
        {PriceError::network({7, "Couldn't connect to server"}), 0},
        {PriceError::decode("coinbase: type must be string"), 1},
        {PriceError::unexpectedResponse("kraken HTTP 503"), 2},
        {PriceError::timeout(), 3},
    };
    for (const auto& [error, code] : cases) {
        EXPECT_EQ(error.code(), code);
        EXPECT_EQ(error.localizedDescription(),
                  "The operation couldn\u2019t be completed. (Brimwell_Ticker.PriceError error " +
                      std::to_string(code) + ".)");
    }
}

TEST(PriceErrorTest, renderingNeverShowsThePayload) {
    const auto first = PriceError::decode("coinbase: one description");
    const auto second = PriceError::decode("kraken: another");
    EXPECT_EQ(first.localizedDescription(), second.localizedDescription());
    EXPECT_EQ(PriceError::network({6, "a"}).localizedDescription(),
              PriceError::network({28, "b"}).localizedDescription());
    EXPECT_EQ(first.localizedDescription().find("description"), std::string::npos);
}

TEST(PriceErrorTest, networkKeepsTheUnderlyingFailure) {
    const auto error = PriceError::network({35, "TLS connect error"});
    ASSERT_NE(error.transferFailure(), nullptr);
    EXPECT_EQ(error.transferFailure()->curlCode, 35);
    EXPECT_EQ(error.transferFailure()->description, "TLS connect error");
    EXPECT_EQ(PriceError::timeout().transferFailure(), nullptr);
    EXPECT_EQ(PriceError::unexpectedResponse("x").text(), "x");
}

TEST(BitcoinPriceTest, recordsAreEqualOnlyWhenAllThreeFieldsAre) {
    const auto now = BitcoinPrice::Clock::now();
    const BitcoinPrice price{67432.49, now, "coinbase"};
    EXPECT_EQ(price, (BitcoinPrice{67432.49, now, "coinbase"}));
    EXPECT_NE(price, (BitcoinPrice{67432.49, now + std::chrono::nanoseconds(1), "coinbase"}));
    EXPECT_NE(price, (BitcoinPrice{67432.5, now, "coinbase"}));
    EXPECT_NE(price, (BitcoinPrice{67432.49, now, "kraken"}));
}

TEST(BitcoinPriceTest, onlyFinitePositiveValuesAreUsable) {
    EXPECT_TRUE(isUsablePrice(67432.49));
    EXPECT_TRUE(isUsablePrice(std::numeric_limits<double>::denorm_min()));
    EXPECT_TRUE(isUsablePrice(std::numeric_limits<double>::max()));
    EXPECT_FALSE(isUsablePrice(0));
    EXPECT_FALSE(isUsablePrice(-0.0));
    EXPECT_FALSE(isUsablePrice(-1));
    EXPECT_FALSE(isUsablePrice(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_FALSE(isUsablePrice(std::numeric_limits<double>::infinity()));
}

} // namespace
