#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "image/picture/Image.h"
#include "image/sprite/SpriteGeometry.h"

namespace image {

// One animation frame in memory: 8-bit RGBA, rows from the top, no gap
// between rows, straight (not premultiplied) alpha, so that a frame drawn at
// scale 1 keeps exactly the bytes of its file.
struct RGBAImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels; // width * height * 4

    // The picture at round(size * scale) (halves away from zero, each side at
    // least 1), resampled with premultiplied alpha when the size changes.
    // Nothing when the size is not finite or too large, or the picture is
    // empty or of an unknown type.
    static std::optional<RGBAImage> make(const Image& image, double scale);
    // From an 8-, 16-bit or float RGBA matrix (float 0..1), no scaling.
    static std::optional<RGBAImage> fromMat(const cv::Mat& rgba);

    // The smallest rectangle holding every pixel whose alpha is not 0;
    // nothing when there is none.
    std::optional<SpriteRect> opaqueBounds() const;
    // The part inside `r` (which lies inside the image).
    RGBAImage cropped(const SpriteRect& r) const;
    // Turned a quarter turn clockwise: width and height swap.
    RGBAImage rotatedClockwise() const;

    // A CV_8UC4 matrix sharing nothing with this image.
    cv::Mat toMat() const;

    bool operator==(const RGBAImage&) const = default;
};

} // namespace image
