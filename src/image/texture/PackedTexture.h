#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/Error.h"
#include "image/picture/Image.h"

namespace image {

// Why channel packing, normal conversion or a texture write failed.
class PackingError : public core::Error {
public:
    enum class Kind { cannotRead, noSourceImagesFound, compositionFailed };

    // "Could not read texture map <file name>."
    static PackingError cannotRead(const std::filesystem::path& url);
    // "Could not read texture map <file name>: <reason>."
    static PackingError cannotRead(const std::filesystem::path& url, const std::string& reason);
    // "No valid source texture maps found for channel packing."
    static PackingError noSourceImagesFound();
    // The same followed by why the primary map can't be read: "No valid
    // source texture maps found for channel packing. Could not read texture
    // map <file name>: <reason>."
    static PackingError noSourceImagesFound(const PackingError& unreadable);
    // "Failed to composite RGBA channels."
    static PackingError compositionFailed();

    Kind kind() const { return kind_; }
    // The map concerned (cannotRead, and noSourceImagesFound with a map).
    const std::filesystem::path& url() const { return url_; }

private:
    PackingError(Kind kind, const std::string& text, std::filesystem::path url = {})
        : core::Error(text), kind_(kind), url_(std::move(url)) {}
    Kind kind_;
    std::filesystem::path url_;
};

// An 8-bit RGBA picture in memory: rows from the top, 4 bytes a pixel
// (R, G, B, A), straight alpha. What channel packing, normal conversion and
// normal generation hand back.
struct PackedTexture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgba;

    bool operator==(const PackedTexture&) const = default;

    // The texture as an engine image (CV_8UC4, a copy of the bytes). Nothing
    // when the size and the byte count disagree.
    std::optional<Image> toImage() const;

    // Writes the texture as a PNG (straight alpha, no colour conversion),
    // creating the folder first, through a temporary name renamed into
    // place. Throws PackingError::compositionFailed when the bytes don't make
    // an image or can't be encoded; a folder that can't be made or a file
    // that can't be written throws the file system's own error (core::
    // FileError, naming the file and the system's reason).
    void writePNG(const std::filesystem::path& url) const;
    // The same for any engine image (8- or 16-bit, 1 to 4 channels, RGBA
    // order, straight alpha). Always PNG, whatever the file's extension.
    static void writePNG(const Image& picture, const std::filesystem::path& url);

    // A half-size copy by a 2 x 2 box filter: sides max(1, side / 2), each
    // byte (a + b + c + d + 2) / 4; an odd last row or column is dropped and a
    // side of 1 repeats its only pixel.
    PackedTexture halved() const;
};

} // namespace image
