#include "image/sprite/MaxRectsPacker.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace image {

MaxRectsPacker::MaxRectsPacker(int width, int height, int padding)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), padding_(std::max(padding, 0)) {
    freeRects_.push_back({0, 0, width_ + padding_, height_ + padding_});
}

std::optional<MaxRectsPacker::Choice> MaxRectsPacker::choosePlace(std::span<const Candidate> candidates) const {
    std::int64_t bestShort = std::numeric_limits<std::int64_t>::max();
    std::int64_t bestLong = std::numeric_limits<std::int64_t>::max();
    std::optional<Choice> choice;
    for (const SpriteRect& f : freeRects_) {
        for (const Candidate& c : candidates) {
            const std::int64_t ow = std::int64_t{c.width} + padding_;
            const std::int64_t oh = std::int64_t{c.height} + padding_;
            if (f.width < ow || f.height < oh) continue;
            const std::int64_t dw = f.width - ow, dh = f.height - oh;
            const std::int64_t shortSide = std::min(dw, dh), longSide = std::max(dw, dh);
            if (shortSide < bestShort || (shortSide == bestShort && longSide < bestLong)) {
                choice = Choice{f.x, f.y, c};
                bestShort = shortSide;
                bestLong = longSide;
            }
        }
    }
    return choice;
}

SpriteRect MaxRectsPacker::place(const Choice& choice) {
    const SpriteRect rect{choice.x, choice.y, choice.candidate.width, choice.candidate.height};
    split({rect.x, rect.y, rect.width + padding_, rect.height + padding_});
    return rect;
}

void MaxRectsPacker::split(const SpriteRect& used) {
    std::vector<SpriteRect> next;
    next.reserve(freeRects_.size() + 8);
    // Positions in `next` of the parts cut in this call. The list was pruned
    // before, so no untouched rectangle holds another one, and a part cut from
    // F (which lies inside F) cannot hold an untouched one either: only the
    // new parts can be held by something and need testing.
    std::vector<std::size_t> fresh;
    for (const SpriteRect& f : freeRects_) {
        if (!f.overlaps(used)) {
            next.push_back(f);
            continue;
        }
        auto add = [&](SpriteRect r) {
            fresh.push_back(next.size());
            next.push_back(r);
        };
        if (used.minX() > f.minX()) add({f.x, f.y, used.minX() - f.x, f.height});
        if (used.maxX() < f.maxX()) add({used.maxX(), f.y, f.maxX() - used.maxX(), f.height});
        if (used.minY() > f.minY()) add({f.x, f.y, f.width, used.minY() - f.y});
        if (used.maxY() < f.maxY()) add({f.x, used.maxY(), f.width, f.maxY() - used.maxY()});
    }
    if (fresh.empty()) {
        freeRects_ = std::move(next);
        return;
    }
    std::vector<char> dropped(next.size(), 0);
    for (std::size_t i : fresh) {
        const SpriteRect& r = next[i];
        for (std::size_t j = 0; j < next.size(); ++j) {
            if (j == i || !next[j].contains(r)) continue;
            // Of two equal rectangles the earlier one stays.
            if (next[j] != r || j < i) {
                dropped[i] = 1;
                break;
            }
        }
    }
    freeRects_.clear();
    for (std::size_t i = 0; i < next.size(); ++i)
        if (!dropped[i]) freeRects_.push_back(next[i]);
}

} // namespace image
