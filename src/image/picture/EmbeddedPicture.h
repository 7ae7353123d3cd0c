#pragma once

// Pictures that go whole into another file (the cover of an audio file):
// the PNG and JPEG structure around the compressed picture, and the
// orientation the decoders apply.

#include <optional>
#include <string>
#include <string_view>

#include "image/picture/Image.h"

namespace image {

// A PNG or JPEG file's bytes without the blocks that describe the picture
// rather than draw it, where a phone puts its GPS position, the camera, the
// owner and the time: JPEG APPn segments other than a JFIF APP0, an ICC
// profile and an Adobe APP14 (which colour decoding needs), COM segments and
// anything after the end of the image; PNG tEXt, zTXt, iTXt, eXIf and tIME
// chunks and anything after IEND. Every other segment or chunk, the
// compressed picture data included, is kept byte for byte. Absent when
// `bytes` is neither, or its structure cannot be followed.
std::optional<std::string> withoutMetadataBlocks(std::string_view bytes);

// Whether `bytes` begin with the PNG signature.
bool isPNGData(std::string_view bytes);

// The orientation (1 to 8) that `metadata`, read with the stored pixels
// (DecodeOptions::upright off), gives them: what loading them upright turns
// by. EXIF before XMP, of whatever integer type it is stored as; 1 when there
// is none.
int storedOrientation(const ImageMetadata& metadata);

} // namespace image
