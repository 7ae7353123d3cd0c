#pragma once

#include <optional>
#include <span>
#include <vector>

#include "image/sprite/SpriteGeometry.h"

namespace image {

// Free-space bookkeeping of a maximal-rectangles bin packer: where a
// rectangle goes (best short side fit, long side breaking ties) and how the
// free space is cut after a placement.
//
// Padding: every placed rectangle keeps `padding` empty pixels to its right
// and below. The packer reserves them together with the rectangle and works
// in a bin `padding` wider and higher than the sheet, so two rectangles are
// always at least `padding` apart while the padding of a rectangle against
// the sheet's right or bottom edge falls outside the sheet.
class MaxRectsPacker {
public:
    struct Candidate {
        int width = 0;
        int height = 0;
        bool rotated = false;
        bool operator==(const Candidate&) const = default;
    };
    struct Choice {
        int x = 0;
        int y = 0;
        Candidate candidate;
        bool operator==(const Choice&) const = default;
    };

    // A packer for a width x height sheet; it holds the one free rectangle
    // (0, 0, width + padding, height + padding).
    MaxRectsPacker(int width, int height, int padding = 0);

    // Best short side fit over the free rectangles in list order and, within
    // one, the candidates in the order given; ties keep the earlier choice.
    std::optional<Choice> choosePlace(std::span<const Candidate> candidates) const;

    // Takes the chosen place: the rectangle with its padding leaves the free
    // space. Returns the rectangle itself (without padding).
    SpriteRect place(const Choice& choice);

    // Cuts `used` out of every free rectangle it overlaps (each overlapped one
    // gives its left, right, top and bottom parts that exist, in that order)
    // and prunes: a rectangle held by another goes; of two equal ones the
    // earlier stays. Order is kept.
    void split(const SpriteRect& used);

    const std::vector<SpriteRect>& freeRects() const { return freeRects_; }
    // Replaces the free list (tests, and callers resuming a layout).
    void setFreeRects(std::vector<SpriteRect> rects) { freeRects_ = std::move(rects); }
    int width() const { return width_; }
    int height() const { return height_; }
    int padding() const { return padding_; }

private:
    std::vector<SpriteRect> freeRects_;
    int width_ = 0;
    int height_ = 0;
    int padding_ = 0;
};

} // namespace image
