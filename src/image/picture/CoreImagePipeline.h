#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "image/picture/Image.h"
#include "image/picture/ImageCodecs.h"

namespace image {

// The one shared object through which the photo and texture roads load,
// scale, encode and write images. Read-only after construction; every worker
// uses shared() at the same time.
class CoreImagePipeline {
public:
    static const CoreImagePipeline& shared();

    // Loads a file upright, in sRGB, with its metadata. Nothing when the file
    // can't be read or decoded.
    std::optional<Image> loadImage(const std::filesystem::path& url) const;
    // The same, saying why there is no picture: throws ImageReadError.
    Image loadImageOrFail(const std::filesystem::path& url) const;

    // The metadata to store with upright pixels: orientation 1 (EXIF and
    // XMP), pixel dimensions dropped (the writers put in the written size),
    // the EXIF thumbnail dropped. Everything else is kept.
    static ImageMetadata uprightProperties(ImageMetadata properties);

    // Shrinks so the longer side is maxDimension (never enlarges); sides
    // rounded half away from zero, edges clamped.
    Image scaledToFit(const Image& image, double maxDimension) const;

    // JPEG bytes with upright metadata (the given properties, or the image's
    // own when none are given). Nothing when encoding fails.
    std::optional<std::vector<std::uint8_t>> jpegData(const Image& image, double quality,
                                                      const ImageMetadata* properties = nullptr) const;

    // Writes the file in the format its extension names (png; heic/heif;
    // tiff/tif; anything else JPEG), creating missing folders first, through
    // a temporary name renamed into place. Throws core::Error on failure.
    void write(const Image& image, const std::filesystem::path& url, double quality,
               const ImageMetadata* properties = nullptr) const;

private:
    CoreImagePipeline();
};

} // namespace image
