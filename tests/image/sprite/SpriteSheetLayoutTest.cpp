#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/sprite/SpriteSheetCompiler.h"

using image::SpriteRect;
using image::SpriteSize;
using Compiler = image::SpriteSheetCompiler;
using Kind = Compiler::AtlasError::Kind;

namespace {

Compiler::Options opts(int padding, int extrude, int maxSize, bool rotation) {
    Compiler::Options o;
    o.padding = padding;
    o.extrude = extrude;
    o.maxSheetSize = maxSize;
    o.allowRotation = rotation;
    return o;
}

Compiler::SheetLayout layout(const std::vector<std::pair<int, int>>& sizes, const Compiler::Options& o, bool multi) {
    std::vector<Compiler::LayoutFrame> frames;
    for (std::size_t i = 0; i < sizes.size(); ++i) frames.push_back({"f", sizes[i].first, sizes[i].second});
    return Compiler::layoutPages(frames, o, multi);
}

Kind thrownKind(const std::function<void()>& f) {
    try {
        f();
    } catch (const Compiler::AtlasError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "nothing thrown";
    return Kind::failedToCreateImage;
}

// The rectangle a placement covers on the sheet, extrusion included.
SpriteRect covered(const Compiler::Placement& p, int e) {
    const int w = p.rotated ? p.rect.height : p.rect.width, h = p.rotated ? p.rect.width : p.rect.height;
    return {p.rect.x - e, p.rect.y - e, w + 2 * e, h + 2 * e};
}

// Every pair on a page at least `gap` apart horizontally or vertically, and
// everything inside its page.
void expectSeparated(const Compiler::SheetLayout& l, int e, int gap) {
    for (std::size_t i = 0; i < l.placements.size(); ++i) {
        const SpriteRect a = covered(l.placements[i], e);
        const SpriteSize page = l.pages[static_cast<std::size_t>(l.placements[i].page)];
        ASSERT_GE(a.x, 0);
        ASSERT_GE(a.y, 0);
        ASSERT_LE(a.maxX(), page.width);
        ASSERT_LE(a.maxY(), page.height);
        for (std::size_t j = i + 1; j < l.placements.size(); ++j) {
            if (l.placements[j].page != l.placements[i].page) continue;
            const SpriteRect b = covered(l.placements[j], e);
            const bool apartX = a.maxX() + gap <= b.x || b.maxX() + gap <= a.x;
            const bool apartY = a.maxY() + gap <= b.y || b.maxY() + gap <= a.y;
            ASSERT_TRUE(apartX || apartY) << "frames " << i << " and " << j;
        }
    }
}

} // namespace

TEST(SpriteSheetLayout, SingleFrameWithPaddingStartsAtTheSmallestSheet) {
    const auto l = layout({{100, 50}}, opts(2, 0, 2048, false), false);
    ASSERT_EQ(l.pages, (std::vector<SpriteSize>{{128, 64}}));
    EXPECT_EQ(l.placements[0], (Compiler::Placement{0, {0, 0, 100, 50}, false}));
}

TEST(SpriteSheetLayout, LongFrameGrowsTheSheetByDoubling) {
    const auto l = layout({{300, 10}}, opts(0, 0, 2048, true), false);
    EXPECT_EQ(l.attempts, (std::vector<SpriteSize>{{64, 32}, {64, 64}, {128, 64}, {128, 128}, {256, 128}, {256, 256}, {512, 256}}));
    ASSERT_EQ(l.pages, (std::vector<SpriteSize>{{512, 256}}));
    EXPECT_EQ(l.placements[0], (Compiler::Placement{0, {0, 0, 300, 10}, false}));
}

TEST(SpriteSheetLayout, ExtrusionCountsAgainstTheLimitPaddingDoesNot) {
    EXPECT_EQ(thrownKind([] { layout({{2047, 10}}, opts(0, 1, 2048, false), false); }), Kind::frameTooLarge);
    try {
        std::vector<Compiler::LayoutFrame> frames{{"wide.png", 2047, 10}};
        Compiler::layoutPages(frames, opts(0, 1, 2048, false), false);
    } catch (const Compiler::AtlasError& e) {
        EXPECT_STREQ(e.what(), "wide.png is larger than the 2048x2048 sheet limit.");
    }
    const auto l = layout({{2047, 10}}, opts(16, 0, 2048, false), false);
    ASSERT_EQ(l.pages.size(), 1u);
    EXPECT_EQ(l.pages[0].width, 2048);
    expectSeparated(l, 0, 16);
}

TEST(SpriteSheetLayout, PaddingNeverExtendsASheet) {
    // 128 x 64 exactly: the padding to the right and below falls off the edge.
    const auto exact = layout({{128, 64}}, opts(2, 0, 2048, false), false);
    EXPECT_EQ(exact.pages, (std::vector<SpriteSize>{{128, 64}}));
    EXPECT_EQ(exact.attempts.size(), 1u);
    // Four 64 x 64 frames with padding 4 fill a 128 x 128 sheet only when the
    // padding of the right and bottom ones falls outside it.
    const auto four = layout({{62, 62}, {62, 62}, {62, 62}, {62, 62}}, opts(2, 0, 128, false), false);
    EXPECT_EQ(four.pages, (std::vector<SpriteSize>{{128, 128}}));
    expectSeparated(four, 0, 2);
}

TEST(SpriteSheetLayout, MorePagesOnlyWhenAllowed) {
    const std::vector<std::pair<int, int>> sizes(12, {100, 100});
    const auto o = opts(2, 1, 256, false);
    EXPECT_EQ(thrownKind([&] { layout(sizes, o, false); }), Kind::sheetTooLarge);
    const auto l = layout(sizes, o, true);
    ASSERT_GE(l.pages.size(), 2u);
    EXPECT_EQ(l.pages[0], (SpriteSize{256, 256}));
    // Four 104-pixel blocks per 256 page; the last page is sized for what is left.
    EXPECT_EQ(l.pages.size(), 3u);
    EXPECT_EQ(l.pages[2], (SpriteSize{256, 256}));
    expectSeparated(l, 1, 2);
    // One frame left over: its page starts afresh from its own size.
    std::vector<std::pair<int, int>> nine(9, {100, 100});
    const auto l9 = layout(nine, o, true);
    ASSERT_EQ(l9.pages.size(), 3u);
    EXPECT_EQ(l9.pages[2], (SpriteSize{128, 128}));
}

TEST(SpriteSheetLayout, FrameTooLargeComesBeforeAnyPacking) {
    // The oversized frame is named even when others would not fit either.
    std::vector<Compiler::LayoutFrame> frames{{"a", 200, 200}, {"b", 200, 200}, {"huge", 300, 4}};
    try {
        Compiler::layoutPages(frames, opts(0, 0, 256, false), false);
        FAIL();
    } catch (const Compiler::AtlasError& e) {
        EXPECT_EQ(e.kind(), Kind::frameTooLarge);
        EXPECT_STREQ(e.what(), "huge is larger than the 256x256 sheet limit.");
    }
}

TEST(SpriteSheetLayout, OrderIsLongerSideFirstAndStable) {
    const auto l = layout({{10, 10}, {5, 40}, {40, 2}, {12, 12}}, opts(0, 0, 256, false), false);
    EXPECT_EQ(l.order, (std::vector<std::size_t>{1, 2, 3, 0}));
}

// A thousand random frames: every pair keeps its padding and extrusion apart,
// with and without rotation, on one page and on several.
struct ThousandCase {
    int padding, extrude, limit;
    bool rotation;
};
class SpriteSheetLayoutThousand : public ::testing::TestWithParam<ThousandCase> {};

TEST_P(SpriteSheetLayoutThousand, KeepsPaddingBetweenEveryPair) {
    const auto c = GetParam();
    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> side(8, 128);
    std::vector<std::pair<int, int>> sizes;
    for (int i = 0; i < 1000; ++i) sizes.push_back({side(rng), side(rng)});
    const auto l = layout(sizes, opts(c.padding, c.extrude, c.limit, c.rotation), true);
    for (const auto& page : l.pages) {
        EXPECT_LE(page.width, c.limit);
        EXPECT_LE(page.height, c.limit);
        EXPECT_EQ(page.width & (page.width - 1), 0);
        EXPECT_EQ(page.height & (page.height - 1), 0);
    }
    expectSeparated(l, c.extrude, c.padding);
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_EQ(l.placements[i].rect.width, sizes[i].first);
        EXPECT_EQ(l.placements[i].rect.height, sizes[i].second);
        if (!c.rotation) {
            EXPECT_FALSE(l.placements[i].rotated);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SpriteSheetLayoutThousand,
                         ::testing::Values(ThousandCase{2, 0, 1024, false}, ThousandCase{2, 1, 2048, false},
                                           ThousandCase{3, 2, 4096, true}, ThousandCase{0, 0, 1024, true}));
