#pragma once

// CMYK TIFF files; internal to the image codecs. Every other TIFF is read
// by OpenCV.

#include <cstdint>
#include <optional>
#include <vector>

#include <opencv2/core.hpp>

#include "image/picture/CodecSupport.h"

namespace image::detail {

// The inks of a print workflow's TIFF, for the caller to convert through
// the profile they were separated with (inksToSRGB).
struct TiffInks {
    cv::Mat inks;  // CV_8UC4 or CV_16UC4: cyan, magenta, yellow, black; 0 is no ink
    cv::Mat alpha; // CV_8UC1 or CV_16UC1, straight; empty when the file has none
    std::vector<std::uint8_t> icc;
};

// Reads a TIFF with libtiff when its first picture is CMYK inks (InkSet
// CMYK, 8 or 16 bits, strips or tiles, one plane or one per sample, at most
// one extra sample) with a CMYK profile; nothing for any other TIFF. Errors
// libtiff reports while reading throw DamagedData with libtiff's text.
std::optional<TiffInks> decodeProfiledCmykTiff(Bytes bytes);

} // namespace image::detail
