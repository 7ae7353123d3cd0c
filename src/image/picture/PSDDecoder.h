#pragma once

// Photoshop documents; internal to the image codecs.

#include <optional>

#include <opencv2/core.hpp>

#include "image/picture/CodecSupport.h"

namespace image::detail {

// The merged composite (image data section) of a Grayscale or RGB document
// at 8 or 16 bits per channel, raw or RLE (PackBits), as RGBA at the
// document's depth. The first channel past the colour channels is alpha;
// further ones are ignored. The data the header claims is checked against
// the data the file holds before the picture is allocated. Throws
// UnsupportedDocument for a valid document of another colour mode, 32 bits,
// ZIP compression or the large document format; DamagedData for a document
// cut short; nothing for a header that makes no sense or a broken
// compressed row.
std::optional<cv::Mat> decodePsd(Bytes bytes);

} // namespace image::detail
