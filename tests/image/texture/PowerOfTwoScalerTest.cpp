#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <ostream>

#include <fmt/format.h>

#include "image/texture/PowerOfTwoScaler.h"

using image::PowerOfTwoScaler;
using image::ScaleMode;

struct SideCase {
    ScaleMode mode;
    std::int64_t side;
    std::int64_t expected;
};

void PrintTo(const SideCase& c, std::ostream* os) {
    *os << fmt::format("{}/{} side {}", static_cast<int>(c.mode.kind), c.mode.size, c.side);
}

class POTDimension : public ::testing::TestWithParam<SideCase> {};

TEST_P(POTDimension, MapsSide) {
    const auto& c = GetParam();
    EXPECT_EQ(PowerOfTwoScaler().computePOTDimension(c.side, c.mode), c.expected) << fmt::format("side {}", c.side);
}

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t k2p62 = std::int64_t{1} << 62;

INSTANTIATE_TEST_SUITE_P(
    Modes, POTDimension,
    ::testing::Values(
        SideCase{ScaleMode::nearestPowerOfTwo(), 3, 4}, SideCase{ScaleMode::nearestPowerOfTwo(), 5, 4},
        SideCase{ScaleMode::nearestPowerOfTwo(), 6, 8}, SideCase{ScaleMode::nearestPowerOfTwo(), 1000, 1024},
        SideCase{ScaleMode::nearestPowerOfTwo(), 1536, 2048}, SideCase{ScaleMode::nearestPowerOfTwo(), 1535, 1024},
        SideCase{ScaleMode::nearestPowerOfTwo(), 1, 1}, SideCase{ScaleMode::nearestPowerOfTwo(), 0, 1},
        SideCase{ScaleMode::nearestPowerOfTwo(), -50, 1}, SideCase{ScaleMode::nearestPowerOfTwo(), 2048, 2048},
        SideCase{ScaleMode::roundUpPowerOfTwo(), 1000, 1024}, SideCase{ScaleMode::roundUpPowerOfTwo(), 1025, 2048},
        SideCase{ScaleMode::roundUpPowerOfTwo(), 1024, 1024}, SideCase{ScaleMode::roundUpPowerOfTwo(), 0, 1},
        SideCase{ScaleMode::roundDownPowerOfTwo(), 1000, 512}, SideCase{ScaleMode::roundDownPowerOfTwo(), 1024, 1024},
        SideCase{ScaleMode::roundDownPowerOfTwo(), 1, 1},
        SideCase{ScaleMode::fixedTarget(300), 5000, 300}, SideCase{ScaleMode::fixedTarget(300), 1, 300},
        SideCase{ScaleMode::fixedTarget(-7), 64, -7},
        // Exact where a double's log2 would round: 2^53 - 1 is not a power of two.
        SideCase{ScaleMode::roundDownPowerOfTwo(), (std::int64_t{1} << 53) - 1, std::int64_t{1} << 52},
        SideCase{ScaleMode::roundUpPowerOfTwo(), (std::int64_t{1} << 53) + 1, std::int64_t{1} << 54},
        // Beyond 2^62 the result stays the largest power an int64 holds.
        SideCase{ScaleMode::roundUpPowerOfTwo(), kMax, k2p62}, SideCase{ScaleMode::nearestPowerOfTwo(), kMax, k2p62},
        SideCase{ScaleMode::roundDownPowerOfTwo(), kMax, k2p62}));

TEST(PowerOfTwoScaler, PotSizeMapsSidesAlone) {
    PowerOfTwoScaler s;
    EXPECT_EQ(s.potSize(1000, 300, ScaleMode::nearestPowerOfTwo(), true), (PowerOfTwoScaler::Size{1024, 1024}));
    EXPECT_EQ(s.potSize(1000, 300, ScaleMode::nearestPowerOfTwo(), false), (PowerOfTwoScaler::Size{1024, 256}));
    EXPECT_EQ(s.potSize(1000, 300, ScaleMode::fixedTarget(300), false), (PowerOfTwoScaler::Size{300, 300}));
    EXPECT_EQ(s.potSize(40, 3000, ScaleMode::roundDownPowerOfTwo(), true), (PowerOfTwoScaler::Size{2048, 2048}));
}

TEST(PowerOfTwoScaler, NearestAgreesWithDistancesForEverySmallSide) {
    PowerOfTwoScaler s;
    for (std::int64_t side = 1; side <= 20000; ++side) {
        std::int64_t lower = 1;
        while (lower * 2 <= side) lower *= 2;
        const std::int64_t upper = lower == side ? side : lower * 2;
        const std::int64_t expected = (side - lower) < (upper - side) ? lower : upper;
        ASSERT_EQ(s.computePOTDimension(side, ScaleMode::nearestPowerOfTwo()), expected) << fmt::format("side {}", side);
        ASSERT_EQ(s.computePOTDimension(side, ScaleMode::roundDownPowerOfTwo()), lower) << fmt::format("side {}", side);
        ASSERT_EQ(s.computePOTDimension(side, ScaleMode::roundUpPowerOfTwo()), upper) << fmt::format("side {}", side);
    }
}
