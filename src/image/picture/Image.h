#pragma once

#include <cstdint>
#include <vector>

#include <exiv2/exiv2.hpp>
#include <opencv2/core.hpp>

namespace image {

// What travels with a picture: EXIF, IPTC and XMP as Exiv2 holds them, and
// the ICC profile bytes (empty: sRGB). This is the engine's "property
// dictionary".
struct ImageMetadata {
    Exiv2::ExifData exif;
    Exiv2::IptcData iptc;
    Exiv2::XmpData xmp;
    std::vector<std::uint8_t> icc;

    bool empty() const { return exif.empty() && iptc.empty() && xmp.empty() && icc.empty(); }
};

// One picture in memory: RGBA in rows from the top, straight (not
// premultiplied) alpha, at the source's depth: CV_8UC4, CV_16UC4, or
// CV_32FC4 (0..1, from EXR). The picture always starts at (0, 0); the
// y-up coordinates some operations are described in are converted where
// they are used.
struct Image {
    cv::Mat pixels;
    ImageMetadata metadata;

    int width() const { return pixels.cols; }
    int height() const { return pixels.rows; }
    bool empty() const { return pixels.empty(); }
};

// Images above this many pixels are refused from their header, before any
// pixel is decoded.
inline constexpr std::int64_t kMaxImagePixels = 300'000'000;

} // namespace image
