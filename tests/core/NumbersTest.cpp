#include "core/Numbers.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "support/TestSupport.h"

TEST(Numbers, FormattingIgnoresCommaDecimalLocale) {
    testsupport::CommaDecimalLocale comma;
    ASSERT_TRUE(comma.available()) << "a comma-decimal locale must be installed for this test";
    EXPECT_EQ(core::formatFixed(-16.0, 1), "-16.0");
    EXPECT_EQ(core::formatFixed(0.85, 2), "0.85");
    EXPECT_EQ(core::formatShortest(0.85), "0.85");
    EXPECT_EQ(core::parseDouble("0.85"), 0.85);
    EXPECT_FALSE(core::parseDouble("0,85").has_value());
}

TEST(Numbers, ParseDoubleIsStrict) {
    EXPECT_EQ(core::parseDouble("+1.5"), 1.5);
    EXPECT_EQ(core::parseDouble("-2"), -2.0);
    EXPECT_EQ(core::parseDouble("1e3"), 1000.0);
    for (const char* bad : {"", " 1", "1 ", "inf", "nan", "-inf", "1e400", "+-1", "1.2.3", "0x10"})
        EXPECT_FALSE(core::parseDouble(bad).has_value()) << bad;
}

TEST(Numbers, ParseIntAcceptsSignsOnly) {
    EXPECT_EQ(core::parseInt("+7"), 7);
    EXPECT_EQ(core::parseInt("-7"), -7);
    EXPECT_EQ(core::parseInt("007"), 7);
    for (const char* bad : {"", "seven", "7.0", "+", "--7", "99999999999999999999"})
        EXPECT_FALSE(core::parseInt(bad).has_value()) << bad;
}

TEST(Numbers, FloatToIntegerChecksRange) {
    EXPECT_EQ(core::toInt64(3.9), 3);
    EXPECT_EQ(core::toInt64(-3.9), -3);
    EXPECT_FALSE(core::toInt64(std::nan("")).has_value());
    EXPECT_FALSE(core::toInt64(1e19).has_value());
    EXPECT_FALSE(core::toInt64(9223372036854775808.0).has_value());
    EXPECT_FALSE(core::toInt(3e9).has_value());
    EXPECT_EQ(core::clampToInt64(std::numeric_limits<double>::infinity()),
              std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(core::clampToInt64(std::nan(""), 5), 5);
    EXPECT_GE(core::activeProcessorCount(), 1);
}
