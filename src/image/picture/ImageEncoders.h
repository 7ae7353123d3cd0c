#pragma once

// Encoders behind CoreImagePipeline; internal to the image module.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "image/picture/Image.h"

namespace image::detail {

// An encoder's own complaint, passed on unchanged.
class EncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// 8-bit copy of RGBA at any supported depth (float read as 0..1).
cv::Mat to8Bit(const cv::Mat& rgba);

// Records the written size as the EXIF pixel dimensions (when there is EXIF).
void setWrittenSize(ImageMetadata& metadata, int width, int height);

// Baseline JPEG by TurboJPEG, 4:2:0; transparent parts shown over black.
std::vector<std::uint8_t> encodeJpeg(const cv::Mat& rgba, double quality);

// PNG (libpng) or TIFF (libtiff) through OpenCV, keeping 16-bit samples and
// alpha. `extension` is ".png" or ".tiff".
std::vector<std::uint8_t> encodeWithOpenCV(const cv::Mat& rgba, const char* extension);

// HEIC by libheif's HEVC encoder, with EXIF, XMP and ICC in the file (a
// profile that doesn't describe RGB is left out).
std::vector<std::uint8_t> encodeHeif(const cv::Mat& rgba, double quality, const ImageMetadata& metadata);
bool canEncodeHeif();

} // namespace image::detail
