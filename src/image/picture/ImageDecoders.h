#pragma once

// Decoders with a library of their own; internal to the image codecs.

#include <optional>

#include "image/picture/CodecSupport.h"

namespace image::detail {

// HEIF/HEIC by libheif, turned by the file's own transformations when
// `upright`; metadata from the file's Exif/XMP blocks, colour profile from
// its ICC or nclx description.
std::optional<Image> decodeHeif(Bytes bytes, bool upright);
std::optional<ImageMetadata> heifMetadata(Bytes bytes);

// Camera raws by LibRaw, rendered to 16-bit sRGB, turned upright by LibRaw
// when `upright`.
std::optional<Image> decodeRaw(Bytes bytes, bool upright);

// OpenEXR as float RGBA.
std::optional<Image> decodeExr(Bytes bytes);

} // namespace image::detail
