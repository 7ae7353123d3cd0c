#include <gtest/gtest.h>

#include "core/DateFormat.h"
#include "core/IcuRegex.h"
#include "core/NaturalCollator.h"

namespace {

TEST(IcuRegex, GivesByteOffsetsInUtf8Text) {
    auto regex = core::IcuRegex::compile(R"(\{(\w+)(?::(\d+))?\})");
    ASSERT_TRUE(regex);
    const std::string text = "é{ü}\xff{ab:12}";
    const auto matches = regex->findAll(text);
    ASSERT_EQ(matches.size(), 2u);
    EXPECT_EQ(matches[0].groups[0], (core::IcuRegex::Range{2, 6}));
    EXPECT_EQ(text.substr(matches[0].groups[1]->begin, matches[0].groups[1]->length()), "ü");
    EXPECT_FALSE(matches[0].groups[2]);
    EXPECT_EQ(matches[1].groups[0], (core::IcuRegex::Range{7, 14}));
    EXPECT_EQ(matches[1].groups[2], (core::IcuRegex::Range{11, 13}));
}

TEST(IcuRegex, RefusesBadExpressionsAndHandlesEmptyText) {
    EXPECT_FALSE(core::IcuRegex::compile("(unclosed"));
    auto regex = core::IcuRegex::compile("x*");
    ASSERT_TRUE(regex);
    EXPECT_EQ(regex->findAll("").size(), 1u);
}

TEST(NaturalCollator, ComparesDigitRunsByValue) {
    const core::NaturalCollator collator;
    EXPECT_LT(collator.compare("ep2.WAV", "Ep10.wav"), 0);
    EXPECT_GT(collator.compare("track 100", "track 20"), 0);
    EXPECT_EQ(collator.compare("same", "same"), 0);
}

TEST(DateFormat, QuotedTextStaysLiteral) {
    const std::string text = core::formatDatePattern(core::Clock::now(), "'Week' yyyy");
    ASSERT_EQ(text.size(), 9u);
    EXPECT_EQ(text.substr(0, 5), "Week ");
    EXPECT_EQ(core::formatDatePattern(core::Clock::now(), ""), "");
}

} // namespace
