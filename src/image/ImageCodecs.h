#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "image/Image.h"

namespace image {

struct DecodeOptions {
    // Apply the stored orientation so the pixels come back upright (photos);
    // off for texture data, which is used as stored.
    bool upright = true;
    // Convert colour to sRGB through the embedded profile (or HEIF nclx);
    // off for texture data.
    bool toSRGB = true;
    // Read EXIF/IPTC/XMP/ICC into the image's metadata.
    bool readMetadata = true;
};

struct PixelSize {
    int width = 0;
    int height = 0;
    bool operator==(const PixelSize&) const = default;
};

// Decodes a file by its content (not its name): JPEG, PNG, TIFF, EXR, BMP,
// WebP, HEIC/HEIF, camera raws, TGA, PSD. Nothing when the file can't be
// read or decoded, or when its header claims more than kMaxImagePixels.
std::optional<Image> decodeImageFile(const std::filesystem::path& path,
                                     const DecodeOptions& options = {});
std::optional<Image> decodeImageData(const std::vector<std::uint8_t>& bytes,
                                     const DecodeOptions& options = {});

// The stored pixel size from the file's header (before orientation); no
// pixel is decoded.
std::optional<PixelSize> readPixelSize(const std::filesystem::path& path);

// Reads only the metadata of a file (EXIF/IPTC/XMP/ICC), for grouping and
// inspection. Nothing when the file can't be read.
std::optional<ImageMetadata> readMetadata(const std::filesystem::path& path);

} // namespace image
