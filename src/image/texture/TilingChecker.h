#pragma once

#include <filesystem>
#include <string>

#include "image/picture/Image.h"

namespace image {

// Whether a texture repeats without a visible seam: the colour step across
// each pair of opposite edges against the usual step between neighbouring
// pixels. Holds no state.
class TilingChecker {
public:
    struct Result {
        double horizontalRatio = 0; // left/right edges against horizontal neighbours
        double verticalRatio = 0;   // top/bottom edges against vertical neighbours
        int width = 0;              // the texture's own size, before scaling for the check
        int height = 0;

        bool operator==(const Result&) const = default;

        // A ratio above 3 (exactly 3 passes) is a seam.
        bool horizontalSeam() const { return horizontalRatio > 3.0; }
        bool verticalSeam() const { return verticalRatio > 3.0; }
        bool isSeamless() const { return !horizontalSeam() && !verticalSeam(); }
        // "tiles seamlessly", or "Visible seam: " and the failing axes.
        std::string summary() const;
    };

    // Measures the texture at most 2048 pixels along its longer side (at
    // least 2 x 2). Throws PackingError::cannotRead when it can't be read.
    static Result check(const std::filesystem::path& url);

    // Four copies of the texture in a 2 x 2 grid, each tile shrunk so its
    // longer side is at most maxTile (never enlarged). 8-bit RGBA, straight
    // alpha. Throws PackingError::cannotRead when the texture can't be read
    // and PackingError::compositionFailed when the grid can't be drawn.
    static Image tiledPreview(const std::filesystem::path& url, int maxTile);
};

} // namespace image
