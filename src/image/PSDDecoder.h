#pragma once

// Photoshop documents; internal to the image codecs.

#include <optional>

#include <opencv2/core.hpp>

#include "image/CodecSupport.h"

namespace image::detail {

// The merged composite (image data section) of a Grayscale or RGB document
// at 8 or 16 bits per channel, raw or RLE (PackBits), as RGBA at the
// document's depth. The first channel past the colour channels is alpha;
// further ones are ignored. Nothing for other modes, depths, compressions
// or a broken compressed row; DamagedData for a document cut short.
std::optional<cv::Mat> decodePsd(Bytes bytes);

} // namespace image::detail
