#include "episode/AspectRatio.h"

#include <cctype>

#include <fmt/format.h>
#include <gtest/gtest.h>

namespace {

using episode::AspectRatio;

TEST(AspectRatio, CasesInOrderWithTheirTexts) {
    const auto all = episode::allAspectRatios();
    ASSERT_EQ(all, (std::vector<AspectRatio>{AspectRatio::square, AspectRatio::vertical, AspectRatio::landscape}));
    EXPECT_EQ(episode::rawValue(AspectRatio::square), "1:1 (1080x1080)");
    EXPECT_EQ(episode::rawValue(AspectRatio::vertical), "9:16 (1080x1920)");
    EXPECT_EQ(episode::rawValue(AspectRatio::landscape), "16:9 (1920x1080)");
    EXPECT_EQ(episode::key(AspectRatio::landscape), "wide");
    EXPECT_EQ(episode::shortName(AspectRatio::vertical), "Vertical 9:16 (Reels, TikTok, Shorts)");
    EXPECT_EQ(episode::info(AspectRatio::vertical).width, 1080);
    EXPECT_EQ(episode::info(AspectRatio::vertical).height, 1920);
    EXPECT_EQ(episode::info(AspectRatio::landscape).width, 1920);
    for (auto a : all) EXPECT_EQ(episode::aspectRatioFromRaw(episode::rawValue(a)), a);
    EXPECT_EQ(episode::aspectRatioFromRaw("1:1"), std::nullopt);
    EXPECT_EQ(episode::aspectRatioFromRaw("1:1 (1080X1080)"), std::nullopt);
}

struct KeyCase {
    const char* text;
    std::optional<AspectRatio> expected;
};
void PrintTo(const KeyCase& c, std::ostream* os) { std::string name = "text_";
    for (unsigned char ch : std::string(c.text)) name += std::isalnum(ch) ? static_cast<char>(ch) : '_';
    *os << name;
}

class AspectRatioKey : public testing::TestWithParam<KeyCase> {};

TEST_P(AspectRatioKey, ReadsOptionText) { EXPECT_EQ(episode::aspectRatioFromKey(GetParam().text), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Texts, AspectRatioKey,
    testing::Values(KeyCase{"square", AspectRatio::square}, KeyCase{"1X1", AspectRatio::square},
                    KeyCase{"1:1", AspectRatio::square}, KeyCase{"Story", AspectRatio::vertical},
                    KeyCase{"REEL", AspectRatio::vertical}, KeyCase{"9x16", AspectRatio::vertical},
                    KeyCase{"Landscape", AspectRatio::landscape}, KeyCase{"16:9", AspectRatio::landscape},
                    KeyCase{"wide", AspectRatio::landscape}, KeyCase{" square", std::nullopt},
                    KeyCase{"square ", std::nullopt}, KeyCase{"4:3", std::nullopt}, KeyCase{"", std::nullopt}));

} // namespace
