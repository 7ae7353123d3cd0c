#pragma once

#include <filesystem>
#include <string>

#include "core/Error.h"
#include "image/picture/Image.h"

namespace image {

// Writes a copy of an image without its location, or without most or all of
// its metadata, in the source's own type. It first rewrites only the
// metadata and leaves the compressed picture untouched; only when the type
// can't be rewritten that way (HEIC) is the picture decoded and encoded
// again. The ICC profile is kept in every case. No stored state; safe from
// several threads at once.
class EXIFStripper {
public:
    enum class StripOption {
        // Removes the GPS data (EXIF and XMP), keeps the rest.
        stripGPSOnly,
        // Keeps only the orientation, artist and copyright.
        stripAllExifExceptOrientation,
        // Removes all of it, the orientation too.
        stripEverything,
    };

    class EXIFError : public core::Error {
    public:
        enum class Kind { cannotOpenImageSource, unsupportedImageType, cannotCreateImageDestination, failedToWriteImage };

        // "Cannot open image source at <path>"
        static EXIFError cannotOpenImageSource(const std::filesystem::path& source);
        // "Cannot open image source at <path>: <reason>", for a source that
        // reads but doesn't decode (damaged, over the pixel limit, ...).
        static EXIFError cannotDecodeImageSource(const std::filesystem::path& source, const std::string& reason);
        // "Unsupported image type for <file name>"
        static EXIFError unsupportedImageType(const std::filesystem::path& source);
        // "Cannot create image destination at <path>"
        static EXIFError cannotCreateImageDestination(const std::filesystem::path& destination);
        // "Failed to finalize and write image to <path>", and with the
        // system's reason ("...: No space left on device") when there is one.
        static EXIFError failedToWriteImage(const std::filesystem::path& destination);
        static EXIFError failedToWriteImage(const std::filesystem::path& destination, const std::string& reason);

        Kind kind() const { return kind_; }
        const std::filesystem::path& url() const { return url_; }

    private:
        EXIFError(Kind kind, const std::string& text, std::filesystem::path url)
            : core::Error(text), kind_(kind), url_(std::move(url)) {}
        Kind kind_;
        std::filesystem::path url_;
    };

    EXIFStripper() = default;

    // Reads `from` and writes it to `to` (which may be the same file; it is
    // then replaced) through a temporary file renamed into place, so a
    // failure leaves any existing file whole. `compressionQuality` (0..1)
    // is used only when the picture has to be encoded again. Throws
    // EXIFError.
    void stripMetadata(const std::filesystem::path& from, const std::filesystem::path& to, StripOption option,
                       double compressionQuality) const;

    // Whether the file carries GPS data in its EXIF or as XMP exif:GPS*
    // properties. Never fails (false when the file can't be read).
    bool containsGPS(const std::filesystem::path& url) const;

    // Copies the orientation (EXIF, else XMP) as the TIFF orientation, and
    // the TIFF copyright and artist, from `from` into `into`.
    static void keepEssentials(const ImageMetadata& from, ImageMetadata& into);
};

} // namespace image
