#pragma once

#include "image/picture/Image.h"

namespace image {

// Puts a logo over a photo: scaled to a fraction of the photo's width,
// placed in a corner or the centre with a margin proportional to the photo's
// size, made partly transparent and composited source-over. No stored
// state; any number of workers may watermark at once.
class WatermarkRenderer {
public:
    enum class WatermarkPosition { bottomRight, bottomLeft, topRight, topLeft, center };

    struct WatermarkOptions {
        // 0 to 1, multiplies the logo's alpha.
        double opacity;
        // The logo's width as a fraction of the photo's width.
        double scaleFraction;
        // The margin as a fraction of the photo's width (horizontally) and
        // height (vertically); not used for `center`.
        double marginFraction;
        WatermarkPosition position;
        bool operator==(const WatermarkOptions&) const = default;
    };

    WatermarkRenderer() = default;

    // The photo with the logo over it, at the photo's size, depth and
    // metadata. The logo is clipped to the photo; a logo that can't be used
    // (empty, no alpha band, a size that rounds to nothing) leaves the photo
    // unchanged. Never fails.
    Image applyWatermark(const Image& photo, const Image& watermark, const WatermarkOptions& options) const;
};

} // namespace image
