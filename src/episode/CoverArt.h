#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "image/picture/Image.h"

namespace episode {

// Cover pictures for tags, read by the image engine (its decoders, pixel
// limit, orientation and metadata, as for photos). A tag holds PNG or JPEG
// and players show it as stored, most of them without managing colour, so
// a cover stored turned (a portrait phone photo with an EXIF orientation),
// a CMYK JPEG (a print designer's artwork), and a cover in any other form a
// phone or an editor writes (WebP, HEIC, TIFF, BMP, ...), is decoded
// upright in sRGB and encoded as JPEG. Nothing here throws.
class CoverArt {
public:
    struct Picture {
        std::string bytes; // the whole PNG or JPEG file
        bool png = false;
        int width = 0; // as shown
        int height = 0;
    };

    // A cover read and decoded once for everything an episode makes of it.
    struct Prepared {
        Picture tag;
        image::Image upright; // the pixels upright in sRGB, without metadata
    };

    // The cover ready for a tag: an upright PNG or JPEG of RGB or gray is
    // its own bytes without its metadata blocks (image::withoutMetadataBlocks),
    // anything else the upright sRGB picture as a JPEG without a colour
    // profile; and the upright sRGB pixels it was checked with (an audiogram
    // background). Absent when the file cannot be used; `whyNot`, when
    // given, then says why in a few lower-case words: the image engine's
    // ("not an image"), or "not found" when there is no file of that name.
    static std::optional<Prepared> prepare(const std::filesystem::path& file, std::string* whyNot = nullptr);
    // The same, the tag's picture alone.
    static std::optional<Picture> forTag(const std::filesystem::path& file, std::string* whyNot = nullptr);

    // The log line for a cover left out: "<cover name> can't be used as
    // cover art (<reason>); the episode is published without it".
    static std::string leftOutLine(const std::filesystem::path& file, const std::string& reason);
};

} // namespace episode
