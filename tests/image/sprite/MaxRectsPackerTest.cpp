#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "image/sprite/MaxRectsPacker.h"

using image::MaxRectsPacker;
using image::SpriteRect;

namespace {

// The cut-and-prune rule written out literally: every part of every
// overlapped rectangle, then every rectangle tested against every other.
std::vector<SpriteRect> splitLiterally(const std::vector<SpriteRect>& freeRects, const SpriteRect& u) {
    std::vector<SpriteRect> next;
    for (const auto& f : freeRects) {
        if (!f.overlaps(u)) {
            next.push_back(f);
            continue;
        }
        if (u.minX() > f.minX()) next.push_back({f.x, f.y, u.minX() - f.x, f.height});
        if (u.maxX() < f.maxX()) next.push_back({u.maxX(), f.y, f.maxX() - u.maxX(), f.height});
        if (u.minY() > f.minY()) next.push_back({f.x, f.y, f.width, u.minY() - f.y});
        if (u.maxY() < f.maxY()) next.push_back({f.x, u.maxY(), f.width, f.maxY() - u.maxY()});
    }
    std::vector<SpriteRect> kept;
    for (std::size_t i = 0; i < next.size(); ++i) {
        bool drop = false;
        for (std::size_t j = 0; j < next.size() && !drop; ++j)
            if (j != i && next[j].contains(next[i]) && (next[j] != next[i] || j < i)) drop = true;
        if (!drop) kept.push_back(next[i]);
    }
    return kept;
}

} // namespace

TEST(MaxRectsPacker, NewPackerHoldsTheWholeSheet) {
    MaxRectsPacker packer(64, 32);
    EXPECT_EQ(packer.freeRects(), (std::vector<SpriteRect>{{0, 0, 64, 32}}));
    MaxRectsPacker padded(64, 32, 2);
    EXPECT_EQ(padded.freeRects(), (std::vector<SpriteRect>{{0, 0, 66, 34}}));
}

TEST(MaxRectsPacker, SplitGivesRightThenBottom) {
    MaxRectsPacker packer(64, 64);
    packer.split({0, 0, 16, 16});
    EXPECT_EQ(packer.freeRects(), (std::vector<SpriteRect>{{16, 0, 48, 64}, {0, 16, 64, 48}}));
}

TEST(MaxRectsPacker, SplitInTheMiddleGivesFourPartsInOrder) {
    MaxRectsPacker packer(64, 64);
    packer.split({10, 20, 8, 4});
    EXPECT_EQ(packer.freeRects(),
              (std::vector<SpriteRect>{{0, 0, 10, 64}, {18, 0, 46, 64}, {0, 0, 64, 20}, {0, 24, 64, 40}}));
}

TEST(MaxRectsPacker, PruneDropsPartsHeldByOtherParts) {
    MaxRectsPacker packer(100, 100);
    packer.setFreeRects({{0, 0, 100, 50}, {0, 0, 50, 100}});
    packer.split({40, 40, 20, 20});
    // (0, 0, 40, 50) lies in (0, 0, 40, 100) and (0, 0, 50, 40) in
    // (0, 0, 100, 40): both go, the rest keep their order.
    EXPECT_EQ(packer.freeRects(),
              (std::vector<SpriteRect>{{60, 0, 40, 50}, {0, 0, 100, 40}, {0, 0, 40, 100}, {0, 60, 50, 40}}));
}

TEST(MaxRectsPacker, EarlierFreeRectangleWinsATie) {
    MaxRectsPacker packer(64, 64);
    packer.setFreeRects({{0, 0, 20, 20}, {30, 30, 20, 20}});
    const MaxRectsPacker::Candidate c{10, 10, false};
    const auto choice = packer.choosePlace(std::span(&c, 1));
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->x, 0);
    EXPECT_EQ(choice->y, 0);
}

TEST(MaxRectsPacker, ShortSideThenLongSideDecide) {
    MaxRectsPacker packer(200, 200);
    // First: short 2, long 50. Second: short 2, long 10 (wins the tie on the
    // long side). Third: short 5.
    packer.setFreeRects({{0, 0, 12, 60}, {100, 0, 12, 20}, {0, 100, 15, 15}});
    const MaxRectsPacker::Candidate c{10, 10, false};
    const auto choice = packer.choosePlace(std::span(&c, 1));
    ASSERT_TRUE(choice);
    EXPECT_EQ(choice->x, 100);
}

TEST(MaxRectsPacker, UnrotatedBeforeRotatedOnEqualFit) {
    MaxRectsPacker packer(40, 40);
    const std::vector<MaxRectsPacker::Candidate> both{{30, 10, false}, {10, 30, true}};
    const auto choice = packer.choosePlace(both);
    ASSERT_TRUE(choice);
    EXPECT_FALSE(choice->candidate.rotated);
    // Only the rotated shape fits a tall, narrow sheet.
    MaxRectsPacker tall(12, 40);
    const auto turned = tall.choosePlace(both);
    ASSERT_TRUE(turned);
    EXPECT_TRUE(turned->candidate.rotated);
}

TEST(MaxRectsPacker, NothingFitsGivesNoChoice) {
    MaxRectsPacker packer(16, 16);
    const MaxRectsPacker::Candidate c{17, 4, false};
    EXPECT_FALSE(packer.choosePlace(std::span(&c, 1)));
}

TEST(MaxRectsPacker, PaddingSeparatesNeighboursButNotTheSheetEdge) {
    MaxRectsPacker packer(32, 16, 2);
    const MaxRectsPacker::Candidate a{16, 16, false};
    auto first = packer.choosePlace(std::span(&a, 1));
    ASSERT_TRUE(first); // 16 + 2 padding fits a 16-high sheet: padding falls outside
    packer.place(*first);
    const MaxRectsPacker::Candidate b{14, 16, false};
    auto second = packer.choosePlace(std::span(&b, 1));
    ASSERT_TRUE(second);
    EXPECT_EQ(second->x, 18); // two pixels after the first frame
    packer.place(*second);
    const MaxRectsPacker::Candidate c{1, 1, false};
    EXPECT_FALSE(packer.choosePlace(std::span(&c, 1)));
}

// The fast prune keeps the same list, in the same order, as the literal
// rule, over a thousand placements of random sizes.
class MaxRectsPackerPrune : public ::testing::TestWithParam<unsigned> {};

TEST_P(MaxRectsPackerPrune, MatchesTheLiteralRule) {
    std::mt19937 rng(GetParam());
    std::uniform_int_distribution<int> side(4, 96);
    MaxRectsPacker packer(1024, 1024);
    int placed = 0;
    for (int n = 0; n < 1000; ++n) {
        const MaxRectsPacker::Candidate c{side(rng), side(rng), false};
        const auto choice = packer.choosePlace(std::span(&c, 1));
        if (!choice) continue;
        const SpriteRect used{choice->x, choice->y, c.width, c.height};
        const auto expected = splitLiterally(packer.freeRects(), used);
        packer.split(used);
        ASSERT_EQ(packer.freeRects(), expected) << "after placement " << n;
        ++placed;
    }
    EXPECT_GT(placed, 100);
}

INSTANTIATE_TEST_SUITE_P(Seeds, MaxRectsPackerPrune, ::testing::Values(1u, 7u, 42u));
