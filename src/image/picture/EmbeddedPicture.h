#pragma once

// Pictures that go whole into another file (the cover of an audio file):
// the PNG and JPEG structure around the compressed picture, and the
// orientation the decoders apply.

#include <optional>
#include <string>
#include <string_view>

#include "image/picture/Image.h"

namespace image {

// A PNG or JPEG file's bytes with only the blocks that draw the picture
// and say its colour, without those that describe it, where a phone puts
// its GPS position, the camera, the owner and the time. A JPEG keeps every
// segment but APPn and COM, and of the APPn segments a JFIF APP0, an ICC
// profile and an Adobe APP14 (which colour decoding needs). A PNG keeps
// IHDR, PLTE, IDAT and IEND, the transparency (tRNS), the colour (gAMA,
// cHRM, sRGB, iCCP, sBIT, cICP, mDCV, cLLI) and the background (bKGD);
// every other chunk goes (text, time, EXIF under any of its names, a
// private application's). Anything after the end of the image goes too.
// What is kept, the compressed picture data included, is kept byte for
// byte. Absent when `bytes` is neither, or its structure cannot be
// followed.
std::optional<std::string> withoutMetadataBlocks(std::string_view bytes);

// Whether `bytes` begin with the PNG signature.
bool isPNGData(std::string_view bytes);

// Whether `bytes` are a JPEG whose colour is inks (CMYK or YCCK, as a print
// designer's artwork is), which readers that don't manage colour show
// wrongly. Read from the header by the JPEG decoder; no pixel is decoded.
bool holdsInks(std::string_view bytes);

// The orientation (1 to 8) that `metadata`, read with the stored pixels
// (DecodeOptions::upright off), gives them: what loading them upright turns
// by. EXIF before XMP, of whatever integer type it is stored as; 1 when there
// is none.
int storedOrientation(const ImageMetadata& metadata);

// A PNG or JPEG decoded with DecodeOptions::upright off, turned by its
// storedOrientation and marked upright: the pixels and metadata decoding it
// upright gives, without decoding it again.
Image turnedUpright(Image stored);

} // namespace image
