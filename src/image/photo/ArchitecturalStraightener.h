#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "image/picture/Image.h"

namespace image {

// Measures how the vertical edges of an interior or building photo lean
// (roll) or converge towards the top (keystone) on a small gray copy, with
// its own vote over near-vertical line directions, and corrects both: a
// rotation for the roll, a perspective warp for the keystone, then an
// optional crop of the empty side wedges, all three composed into one
// bicubic pass over the picture. No stored state; any number of workers may
// use it at once.
class ArchitecturalStraightener {
public:
    struct StraightenParameters {
        // Positive when the verticals converge towards the top.
        double verticalKeystoneCorrection = 0;
        // Carried, never measured (always 0) and not applied.
        double horizontalKeystoneCorrection = 0;
        // The roll correction in radians, counter-clockwise positive.
        double rotationAngleRadians = 0;
        // Cut away the empty wedges the keystone correction leaves.
        bool autoCrop = true;
        // The number of lines the analysis used.
        int linesDetected = 0;

        // (0, 0, 0, true, 0).
        static const StraightenParameters identity;
        // Both applied corrections below 1e-4 in size.
        bool isIdentity() const;
        bool operator==(const StraightenParameters&) const = default;
    };

    // One byte of linear-light gray per pixel, rows from the top, width
    // bytes a row.
    struct GrayBitmap {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> pixels;
    };

    // x = x0 + slope * (y - height / 2), in bitmap pixels, y downwards.
    struct DetectedLine {
        double x0 = 0;
        double slope = 0;
        int votes = 0;
        bool operator==(const DetectedLine&) const = default;
    };

    struct Straightened {
        Image image;
        StraightenParameters parameters;
    };

    ArchitecturalStraightener() = default;

    // Measures roll and keystone on a copy at most 720 pixels long.
    // `identity` with 0 lines when the picture is too small or fewer than
    // two lines are found.
    StraightenParameters analyze(const Image& image) const;

    // Rotates, warps and crops in one pass, straight into the result (the
    // only full-size buffer it makes). Negligible parameters give the input
    // itself.
    // The result starts at (0, 0); its metadata is the input's.
    Image straighten(const Image& image, const StraightenParameters& parameters) const;

    // analyze, then straighten with the result.
    Straightened autoStraighten(const Image& image) const;

    // The picture shrunk so its longer side is at most maxDimension (sides
    // rounded down), as linear-light luminance over black. Nothing when the
    // picture or its copy is below 32 pixels on a side.
    static std::optional<GrayBitmap> grayscaleBitmap(const Image& image, double maxDimension);

    // Near-vertical lines (within 20 degrees), strongest first.
    static std::vector<DetectedLine> detectVerticalLines(const GrayBitmap& bitmap);
};

inline constexpr ArchitecturalStraightener::StraightenParameters
    ArchitecturalStraightener::StraightenParameters::identity{0, 0, 0, true, 0};

} // namespace image
