#include "image/PowerOfTwoScaler.h"

#include <algorithm>
#include <bit>

namespace image {

namespace {

constexpr std::uint64_t kLargestPower = std::uint64_t{1} << 62;

// The largest power of two at or below v (v >= 1).
std::uint64_t floorPower(std::uint64_t v) { return std::bit_floor(v); }

// The smallest power of two at or above v, capped at 2^62.
std::uint64_t ceilPower(std::uint64_t v) {
    if (v >= kLargestPower) return kLargestPower;
    return std::bit_ceil(v);
}

} // namespace

std::int64_t PowerOfTwoScaler::computePOTDimension(std::int64_t side, ScaleMode mode) const {
    if (mode.kind == ScaleMode::Kind::fixedTarget) return mode.size;
    const std::uint64_t s = side < 1 ? 1 : static_cast<std::uint64_t>(side);
    const std::uint64_t lower = std::min(floorPower(s), kLargestPower);
    const std::uint64_t upper = ceilPower(s);
    switch (mode.kind) {
    case ScaleMode::Kind::roundUpPowerOfTwo:
        return static_cast<std::int64_t>(upper);
    case ScaleMode::Kind::roundDownPowerOfTwo:
        return static_cast<std::int64_t>(lower);
    case ScaleMode::Kind::nearestPowerOfTwo:
    case ScaleMode::Kind::fixedTarget:
        break;
    }
    // Both distances are exact in unsigned arithmetic (lower <= s <= 2^63).
    if (s >= upper) return static_cast<std::int64_t>(lower == upper ? lower : upper);
    return static_cast<std::int64_t>((s - lower) < (upper - s) ? lower : upper);
}

PowerOfTwoScaler::Size PowerOfTwoScaler::potSize(std::int64_t width, std::int64_t height, ScaleMode mode,
                                                 bool forceSquare) const {
    Size out{computePOTDimension(width, mode), computePOTDimension(height, mode)};
    if (forceSquare) {
        const std::int64_t side = std::max(out.width, out.height);
        out = {side, side};
    }
    return out;
}

} // namespace image
