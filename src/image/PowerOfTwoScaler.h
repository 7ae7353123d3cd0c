#pragma once

#include <cstdint>

#include "image/TextureOptions.h"

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
};

} // namespace image
