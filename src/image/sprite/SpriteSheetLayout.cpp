// Page layout of the sprite-sheet compiler: placing order, size limit,
// starting size, growth by doubling and spilling onto further pages.

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "image/sprite/MaxRectsPacker.h"
#include "image/sprite/SpriteSheetCompiler.h"

namespace image {

namespace {

// The smallest power of two (from 1) that is >= target, but never above cap.
std::int64_t powerOfTwoAtLeast(std::int64_t target, std::int64_t cap) {
    std::int64_t side = 1;
    while (side < target && side < cap) side *= 2;
    return std::min(side, cap);
}

struct StartSize {
    int width = 0;
    int height = 0;
};

StartSize startSize(std::span<const SpriteSheetCompiler::LayoutFrame> frames, const std::vector<std::size_t>& list,
                    std::int64_t p, std::int64_t e, std::int64_t m, bool rotation) {
    double area = 0;
    std::int64_t maxW = 0, maxH = 0;
    for (std::size_t i : list) {
        const std::int64_t w = frames[i].width, h = frames[i].height;
        area += static_cast<double>(w + p + 2 * e) * static_cast<double>(h + p + 2 * e);
        maxW = std::max(maxW, w + 2 * e);
        maxH = std::max(maxH, h + 2 * e);
    }
    const std::int64_t need = rotation ? std::min(maxW, maxH) : maxW;
    // The width never exceeds m, so the root only matters up to there.
    const double root = std::floor(std::sqrt(area));
    const std::int64_t rootSide = root >= static_cast<double>(m) ? m : static_cast<std::int64_t>(root);
    const std::int64_t width = powerOfTwoAtLeast(std::max(rootSide, need), m);
    std::int64_t height;
    if (rotation)
        height = width <= 1 ? 1 : powerOfTwoAtLeast(width / 2, m);
    else
        height = powerOfTwoAtLeast(std::max(width / 2, maxH), m);
    return {static_cast<int>(width), static_cast<int>(std::min(height, m))};
}

} // namespace

SpriteSheetCompiler::SheetLayout SpriteSheetCompiler::layoutPages(std::span<const LayoutFrame> frames,
                                                                  const Options& options, bool allowMultiplePages) {
    const std::int64_t e = std::max(options.extrude, 0);
    const std::int64_t p = std::max(options.padding, 0);
    const std::int64_t m = options.maxSheetSize;
    const bool rotation = options.allowRotation;

    SheetLayout layout;
    layout.placements.resize(frames.size());
    layout.order.resize(frames.size());
    for (std::size_t i = 0; i < frames.size(); ++i) layout.order[i] = i;
    std::stable_sort(layout.order.begin(), layout.order.end(), [&](std::size_t a, std::size_t b) {
        return std::max(frames[a].width, frames[a].height) > std::max(frames[b].width, frames[b].height);
    });

    for (std::size_t i : layout.order)
        if (frames[i].width + 2 * e > m || frames[i].height + 2 * e > m)
            throw AtlasError::frameTooLarge(frames[i].name, options.maxSheetSize);

    std::vector<std::size_t> list = layout.order;
    std::vector<MaxRectsPacker::Candidate> candidates;
    while (!list.empty()) {
        auto [width, height] = startSize(frames, list, p, e, m, rotation);
        const int pageIndex = static_cast<int>(layout.pages.size());
        for (;;) {
            MaxRectsPacker packer(width, height, static_cast<int>(p));
            std::vector<std::pair<std::size_t, Placement>> placed;
            std::vector<std::size_t> leftovers;
            for (std::size_t i : list) {
                const int w = frames[i].width, h = frames[i].height;
                const int ext = static_cast<int>(2 * e);
                candidates.clear();
                candidates.push_back({w + ext, h + ext, false});
                if (rotation && w != h) candidates.push_back({h + ext, w + ext, true});
                const auto choice = packer.choosePlace(candidates);
                if (!choice) {
                    leftovers.push_back(i);
                    continue;
                }
                packer.place(*choice);
                placed.push_back({i, Placement{pageIndex, {choice->x + static_cast<int>(e), choice->y + static_cast<int>(e), w, h},
                                               choice->candidate.rotated}});
            }
            layout.attempts.push_back({width, height});
            const bool full = leftovers.empty();
            if (!full && (width < m || height < m)) {
                if (height < width)
                    height = static_cast<int>(std::min<std::int64_t>(std::int64_t{height} * 2, m));
                else
                    width = static_cast<int>(std::min<std::int64_t>(std::int64_t{width} * 2, m));
                continue;
            }
            if (!full && (!allowMultiplePages || placed.empty())) throw AtlasError::sheetTooLarge(options.maxSheetSize);
            for (const auto& [i, placement] : placed) layout.placements[i] = placement;
            layout.pages.push_back({width, height});
            list = std::move(leftovers);
            break;
        }
    }
    return layout;
}

} // namespace image
