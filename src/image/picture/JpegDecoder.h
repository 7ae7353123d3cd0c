#pragma once

// JPEG files; internal to the image codecs.

#include <optional>

#include <opencv2/core.hpp>

#include "image/picture/CodecSupport.h"

namespace image::detail {

// A decoded JPEG: 8-bit RGBA for Grayscale, YCbCr and RGB (libjpeg's own
// conversion), or the inks of CMYK and YCCK for the caller to convert
// through the file's colour profile (inksToSRGB).
struct JpegPicture {
    cv::Mat pixels; // CV_8UC4: R, G, B, A, or C, M, Y, K when `inks` is set
    // How the inks are stored: inverted when the file has an Adobe marker,
    // as Adobe applications and ImageMagick write them, plain otherwise.
    std::optional<InkStorage> inks;
};

// Every warning libjpeg gives is judged by its code: one about missing or
// corrupt picture data (a file cut short, corrupt entropy data, stray bytes
// after a scan's data) throws DamagedData with libjpeg's text; one about a
// header field (stray bytes between segments, an unknown JFIF version or
// Adobe transform) loses nothing. A valid JPEG of a kind not read (12-bit,
// 2 colour components, lossless, hierarchical) throws UnsupportedDocument.
// Nothing when libjpeg can't read the file; std::bad_alloc when it runs out
// of memory.
std::optional<JpegPicture> decodeJpeg(Bytes bytes);

// Whether a JPEG's header (its frame's components and Adobe transform, as
// libjpeg reads them) says its colour is inks, CMYK or YCCK, which
// decodeJpeg hands over as `inks`. No pixel is decoded; false when the
// header can't be read.
bool holdsInks(Bytes bytes);

} // namespace image::detail
