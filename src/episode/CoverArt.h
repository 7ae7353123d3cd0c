#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace episode {

// Cover pictures for tags. A tag holds PNG or JPEG; a cover in any other
// form a phone or an editor writes (WebP, HEIC, TIFF, BMP, ...) is decoded
// and re-encoded as JPEG. Nothing here throws: a picture that cannot be
// read is simply absent.
class CoverArt {
public:
    struct Picture {
        std::string bytes; // the whole PNG or JPEG file
        bool png = false;
    };

    // True when `file` is a PNG or JPEG as its content says (not its name).
    static bool isPNGOrJPEG(const std::filesystem::path& file);
    // The cover ready for a tag: PNG and JPEG files without their metadata
    // (see withoutMetadata), anything else, and a PNG or JPEG whose structure
    // cannot be followed, converted to JPEG. A JPEG whose EXIF orientation
    // says it is stored turned or mirrored is drawn upright and encoded
    // again (its colour profile kept), since players ignore the orientation
    // of a cover. Absent when the file cannot be read as a picture.
    static std::optional<Picture> forTag(const std::filesystem::path& file);
    // A PNG or JPEG file's bytes without the blocks that describe the
    // picture rather than draw it, where a phone puts its GPS position, the
    // camera, the owner and the time: JPEG APPn segments other than a JFIF
    // APP0, an ICC profile and an Adobe APP14 (which colour decoding needs),
    // COM segments and anything after the end of the image; PNG tEXt, zTXt,
    // iTXt, eXIf and tIME chunks and anything after IEND. Every other segment
    // or chunk, the compressed picture data included, is kept byte for byte.
    // Absent when `bytes` is neither, or its structure cannot be followed.
    static std::optional<std::string> withoutMetadata(std::string_view bytes);
    // `file` decoded and encoded as a JPEG (quality about 90).
    static std::optional<std::string> jpegOf(const std::filesystem::path& file);
};

} // namespace episode
