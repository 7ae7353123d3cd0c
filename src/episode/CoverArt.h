#pragma once

#include <filesystem>
#include <optional>
#include <string>

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
    // The cover ready for a tag: PNG and JPEG files unchanged, anything else
    // converted to JPEG. Absent when the file cannot be read as a picture.
    static std::optional<Picture> forTag(const std::filesystem::path& file);
    // `file` decoded and encoded as a JPEG (quality about 90).
    static std::optional<std::string> jpegOf(const std::filesystem::path& file);
};

} // namespace episode
