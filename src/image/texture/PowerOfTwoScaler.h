#pragma once

#include <cstdint>
#include <vector>

#include <opencv2/core.hpp>

#include "image/picture/Image.h"

#include "image/texture/TextureOptions.h"

namespace image {

// Texture sizes as graphics hardware prefers them. Holds no state.
class PowerOfTwoScaler {
public:
    using ScaleMode = image::ScaleMode;

    struct Size {
        std::int64_t width = 0;
        std::int64_t height = 0;
        bool operator==(const Size&) const = default;
    };

    // The target side for `side` under `mode`. A fixed target is returned as
    // given; the other modes treat sides below 1 as 1, map exact powers of two
    // to themselves, and send a side halfway between two powers to the larger.
    // Results are computed exactly on integers; a side beyond the largest
    // power of two an int64 holds (2^62) rounds to 2^62.
    std::int64_t computePOTDimension(std::int64_t side, ScaleMode mode) const;

    // Each side mapped on its own; with forceSquare both become the larger.
    Size potSize(std::int64_t width, std::int64_t height, ScaleMode mode, bool forceSquare) const;

    // The image rescaled (Lanczos-3, every channel on its own, so data kept
    // in alpha survives where alpha is 0) to the potSize of its sides.
    cv::Mat scaleToPOT(const cv::Mat& image, ScaleMode mode, bool forceSquare) const;
    Image scaleToPOT(const Image& image, ScaleMode mode, bool forceSquare) const;

    // The image rescaled to exactly toWidth x height, channels independent.
    // A side below 1 gives an empty image.
    cv::Mat scale(const cv::Mat& image, int toWidth, int height) const;
    Image scale(const Image& image, int toWidth, int height) const;

    struct MipmapLevel {
        int level = 0;
        int dimension = 0; // the level's longer side
        cv::Mat image;
    };

    // Level 0 is the image itself; each next level halves both sides in whole
    // pixels (max(1, side / 2)) with a 2 x 2 box filter, an odd last row or
    // column dropped. The chain ends with the first level whose dimension
    // (the previous one halved, rounding down) is at most minDimension.
    std::vector<MipmapLevel> generateMipmaps(const cv::Mat& image, int minDimension) const;
};

} // namespace image
