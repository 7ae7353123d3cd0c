#pragma once

// JPEG files; internal to the image codecs.

#include <optional>

#include <opencv2/core.hpp>

#include "image/picture/CodecSupport.h"

namespace image::detail {

// A JPEG as 8-bit RGBA, whatever its colour model: Grayscale, YCbCr and RGB
// through libjpeg's own conversion; CMYK and YCCK, stored inverted as Adobe
// applications and ImageMagick write them, through the product of the inks.
// Every warning libjpeg gives is judged: stray bytes between segments lose
// nothing, any other (a file cut short, corrupt data) throws DamagedData with
// libjpeg's text. Nothing when libjpeg can't read the file; std::bad_alloc
// when it runs out of memory.
std::optional<cv::Mat> decodeJpeg(Bytes bytes);

} // namespace image::detail
