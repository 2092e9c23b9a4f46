#include "price/strict_json.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string nested(int levels) {
    return std::string(static_cast<std::size_t>(levels), '[') +
           std::string(static_cast<std::size_t>(levels), ']');
}

TEST(StrictJsonTest, acceptsSixtyFourLevelsAndRefusesSixtyFive) {
    EXPECT_NO_THROW(StrictJson::parse(nested(64)));
    EXPECT_THROW(StrictJson::parse(nested(65)), std::exception);
    EXPECT_NO_THROW(StrictJson::parse("{\"a\":" + nested(63) + "}"));
    EXPECT_THROW(StrictJson::parse("{\"a\":" + nested(64) + "}"), std::exception);
}

TEST(StrictJsonTest, refusesAMillionLevelsWithoutExhaustingTheStack) {
    try {
        StrictJson::parse(nested(1'000'000));
        FAIL() << "accepted";
    } catch (const std::exception& error) {
        EXPECT_STREQ(error.what(), "JSON nested deeper than 64 levels");
    }
}

TEST(StrictJsonTest, takesOneValueAndTheWholeText) {
    EXPECT_THROW(StrictJson::parse(""), std::exception);
    EXPECT_THROW(StrictJson::parse("{} {}"), std::exception);
    EXPECT_THROW(StrictJson::parse("{\"a\":1} x"), std::exception);
    EXPECT_THROW(StrictJson::parse("{\"a\":1,}"), std::exception);
    EXPECT_THROW(StrictJson::parse("{\"a\":\"\xff\"}"), std::exception); // invalid UTF-8
    EXPECT_THROW(StrictJson::parse("/* c */ {}"), std::exception);
    EXPECT_NO_THROW(StrictJson::parse(" \n{\"a\":1}\n"));
}

TEST(StrictJsonTest, numbersAreNeverBooleansOrStrings) {
    const auto json = StrictJson::parse(R"({"b":true,"s":"1","n":1.5,"i":3})");
    EXPECT_THROW(StrictJson::number(json.at("b")), std::exception);
    EXPECT_THROW(StrictJson::number(json.at("s")), std::exception);
    EXPECT_EQ(StrictJson::number(json.at("n")), 1.5);
    EXPECT_EQ(StrictJson::number(json.at("i")), 3.0);
}

TEST(StrictJsonTest, integersMustBeIntegralAndFitSixtyFourBits) {
    const auto json = StrictJson::parse(
        R"({"a":-9223372036854775808,"b":9223372036854775807,"c":1.0,"d":1e3,
            "e":1.5,"f":9223372036854775808,"g":"1","h":true,"i":1e19})");
    EXPECT_EQ(StrictJson::integer(json.at("a")), INT64_MIN);
    EXPECT_EQ(StrictJson::integer(json.at("b")), INT64_MAX);
    EXPECT_EQ(StrictJson::integer(json.at("c")), 1);
    EXPECT_EQ(StrictJson::integer(json.at("d")), 1000);
    for (const char* key : {"e", "f", "g", "h", "i"}) {
        EXPECT_THROW(StrictJson::integer(json.at(key)), std::exception) << key;
    }
}

TEST(StrictJsonTest, membersNameTheirPathWhenMissingNullOrMistyped) {
    const auto json = StrictJson::parse(R"({"data":{"amount":1,"base":null}})");
    const auto& data = StrictJson::required(json, "data");
    const auto message = [&](auto read) {
        try {
            read();
        } catch (const std::exception& error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    EXPECT_NE(message([&] {
                  StrictJson::text(StrictJson::required(data, "amount"));
              }).find("(/data/amount) type must be string, but is number"),
              std::string::npos);
    EXPECT_NE(message([&] { StrictJson::required(data, "base"); }).find("'base' is null"),
              std::string::npos);
    EXPECT_NE(
        message([&] { StrictJson::required(data, "currency"); }).find("key 'currency' not found"),
        std::string::npos);
    EXPECT_EQ(StrictJson::optional(data, "base"), nullptr);
    EXPECT_EQ(StrictJson::optional(data, "absent"), nullptr);
    EXPECT_THROW(StrictJson::optional(StrictJson::parse("[]"), "a"), std::exception);
}

} // namespace
