#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "core/Error.h"
#include "core/Files.h"
#include "image/picture/Image.h"

namespace image {

struct DecodeOptions {
    // Apply the stored orientation so the pixels come back upright (photos);
    // off for texture data, which is used as stored.
    bool upright = true;
    // Convert colour to sRGB through the embedded profile (or HEIF nclx);
    // off for texture data. CMYK and YCCK JPEGs become sRGB either way,
    // through their CMYK profile.
    bool toSRGB = true;
    // Read EXIF/IPTC/XMP/ICC into the image's metadata.
    bool readMetadata = true;
};

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

// Photoshop documents that are valid but not read: colour modes other than
// RGB and Grayscale, 32 bits a channel, ZIP-compressed picture data, and the
// large document format (PSB).
enum class PhotoshopVariant {
    bitmap,
    indexed,
    cmyk,
    multichannel,
    duotone,
    lab,
    floatingPoint,
    zipCompressed,
    largeDocument
};

// JPEGs that are valid but not read: samples of other than 8 bits (12-bit
// JPEGs), colour models of other than 1, 3 or 4 components, and the coding
// processes libjpeg doesn't decode (lossless, hierarchical).
struct JpegVariant {
    enum class Kind { precision, colourComponents, lossless, hierarchical };
    Kind kind;
    int count; // bits per sample, or colour components; 0 for a process
    bool operator==(const JpegVariant&) const = default;
};

// Why a file gave no picture. what() names the file ("cut.jpg is damaged:
// Premature end of JPEG file"); reason() says why without the name, for a
// caller that puts it after a text of its own ("the file is empty").
class ImageReadError : public core::Error {
public:
    enum class Kind { unreadable, empty, notAnImage, overPixelLimit, damaged, unsupported, outOfMemory };

    // The file could not be opened or read, or is no regular file: the
    // file error's own text and reason.
    static ImageReadError unreadable(const core::FileError& error);
    // "<name> is empty"; reason "the file is empty"
    static ImageReadError empty(const std::filesystem::path& file);
    // "<name> is not an image"; reason "not an image"
    static ImageReadError notAnImage(const std::filesystem::path& file);
    // "<name> is W × H, over the 300-megapixel limit"; reason
    // "W × H is over the 300-megapixel limit"
    static ImageReadError overPixelLimit(const std::filesystem::path& file, PixelSize size);
    // "<name> is damaged: <what the decoder found>"; reason "the file is
    // damaged: <...>"
    static ImageReadError damaged(const std::filesystem::path& file, const std::string& detail);
    // "<name> is a CMYK Photoshop document; only RGB and Grayscale documents
    // are read", and the like for the other variants; reason "a CMYK
    // Photoshop document; only ..."
    static ImageReadError unsupported(const std::filesystem::path& file, PhotoshopVariant variant);
    // "<name> is a 12-bit JPEG; only 8-bit JPEGs are read"; "<name> is a
    // JPEG with 2 colour components; only Grayscale, RGB and CMYK JPEGs are
    // read"; "<name> is a lossless JPEG; only baseline and progressive JPEGs
    // are read", and the same for a hierarchical one
    static ImageReadError unsupported(const std::filesystem::path& file, JpegVariant variant);
    // "<name> has a 100 MB colour profile; profiles over 16 MB aren't
    // read"; reason "a 100 MB colour profile; ..."
    static ImageReadError oversizedProfile(const std::filesystem::path& file, std::uint64_t bytes);
    // "Not enough memory to process <name> (W × H)"; reason "not enough
    // memory (W × H)". Without a size (0 × 0) the brackets are left out.
    static ImageReadError notEnoughMemory(const std::filesystem::path& file, PixelSize size);

    Kind kind() const { return kind_; }
    const std::string& reason() const { return reason_; }
    // A damaged file, a document of a kind not read and a shortage of
    // memory are said in full by what(); the other kinds read as the reason
    // after a caller's "could not decode" text.
    bool standsAlone() const {
        return kind_ == Kind::damaged || kind_ == Kind::unsupported || kind_ == Kind::outOfMemory;
    }

private:
    ImageReadError(Kind kind, const std::string& text, std::string reason)
        : core::Error(text), kind_(kind), reason_(std::move(reason)) {}
    Kind kind_;
    std::string reason_;
};

// Whether an exception is the system or an image library running out of
// memory: std::bad_alloc, OpenCV's StsNoMem, libvips failing to allocate.
bool isOutOfMemory(const std::exception& error);
// For a catch block: rethrows the exception in hand, as
// ImageReadError::notEnoughMemory for `file` (with the size its header
// gives) when it is a shortage of memory, unchanged otherwise.
[[noreturn]] void rethrowNamingMemory(const std::filesystem::path& file);

// Decodes a file by its content (not its name): JPEG, PNG, TIFF, EXR, BMP,
// WebP, HEIC/HEIF, camera raws, TGA, PSD. The file is read through
// core::ReadableFile (no FIFO, device or folder; at most 2 GiB); a header
// claiming more than kMaxImagePixels is refused before any pixel is
// decoded, and a decoder that meets missing or corrupt data (a libjpeg
// warning about the picture data, not about a header field) fails the whole
// picture. Throws ImageReadError.
Image loadImageFile(const std::filesystem::path& path, const DecodeOptions& options = {});
// An encoded file already in memory; `file` names it in the errors.
Image loadImageData(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& file,
                    const DecodeOptions& options = {});
// The same as loadImageFile, with nothing for every failure.
std::optional<Image> decodeImageFile(const std::filesystem::path& path,
                                     const DecodeOptions& options = {});
std::optional<Image> decodeImageData(const std::vector<std::uint8_t>& bytes,
                                     const DecodeOptions& options = {});

// The stored pixel size from the file's header (before orientation); no
// pixel is decoded. Throws ImageReadError.
PixelSize loadPixelSize(const std::filesystem::path& path);
// The same, with nothing for every failure.
std::optional<PixelSize> readPixelSize(const std::filesystem::path& path);

// Reads only the metadata of a file (EXIF/IPTC/XMP/ICC), for grouping and
// inspection. Nothing when the file can't be read.
std::optional<ImageMetadata> readMetadata(const std::filesystem::path& path);

} // namespace image
