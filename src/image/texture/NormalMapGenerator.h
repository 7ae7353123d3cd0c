#pragma once

#include <filesystem>
#include <string>

#include "image/texture/PackedTexture.h"
#include "image/texture/TextureOptions.h"

namespace image {

// Tangent-space normal maps from grayscale height maps, and the naming
// questions asked before making one. Holds no state.
class NormalMapGenerator {
public:
    struct Stem {
        std::string stem;
        bool isNamedHeight = false;
        bool operator==(const Stem&) const = default;
    };

    // The normal map of the height map (0 low, 255 high) by Sobel gradients:
    // k = strength / 255, n = (-gx k, +/-gy k, 1) normalised, stored as
    // (c / 2 + 1/2) * 255 rounded; alpha 255. Neighbours wrap around the
    // edges with `wrap`, else the edge pixel stands in. The map is shrunk so
    // its longer side is at most maxSize (0 or less: no limit), never
    // enlarged. Throws PackingError::cannotRead when the map can't be read.
    static PackedTexture fromHeight(const std::filesystem::path& url, double strength, NormalConvention convention,
                                    int maxSize, bool wrap);

    // The material's stem once a height ending ("_Displacement", "_Height",
    // "_Disp", "_Bump", compared without regard to case) is taken off the
    // file name, and whether one was.
    static Stem stem(const std::filesystem::path& url);

    // Whether the folder holds an image recognised as a normal map of this
    // stem (compared without regard to case). An unreadable folder holds none.
    static bool hasNormalMap(const std::string& stem, const std::filesystem::path& folder);
};

} // namespace image
