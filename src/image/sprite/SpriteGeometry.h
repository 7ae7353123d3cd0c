#pragma once

namespace image {

// Whole-pixel rectangle on a frame or a sprite sheet: origin at the top-left
// corner, x to the right, y downwards.
struct SpriteRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    constexpr int minX() const { return x; }
    constexpr int minY() const { return y; }
    constexpr int maxX() const { return x + width; }
    constexpr int maxY() const { return y + height; }
    constexpr bool contains(const SpriteRect& o) const {
        return o.x >= x && o.y >= y && o.maxX() <= maxX() && o.maxY() <= maxY();
    }
    // True when the two share interior area.
    constexpr bool overlaps(const SpriteRect& o) const {
        return o.x < maxX() && x < o.maxX() && o.y < maxY() && y < o.maxY();
    }
    bool operator==(const SpriteRect&) const = default;
};

struct SpriteSize {
    int width = 0;
    int height = 0;
    bool operator==(const SpriteSize&) const = default;
};

} // namespace image
