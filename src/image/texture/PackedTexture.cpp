#include "image/texture/PackedTexture.h"

#include <algorithm>
#include <string_view>

#include <opencv2/core.hpp>

#include "core/Files.h"
#include "image/texture/TexturePNG.h"

namespace image {

namespace {

constexpr std::string_view kCannotReadText = "Could not read texture map ";
constexpr std::string_view kNoSourcesText = "No valid source texture maps found for channel packing.";
constexpr std::string_view kCompositionFailedText = "Failed to composite RGBA channels.";

} // namespace

PackingError PackingError::cannotRead(const std::filesystem::path& url) {
    return PackingError(Kind::cannotRead, std::string(kCannotReadText) + url.filename().string() + ".", url);
}

PackingError PackingError::cannotRead(const std::filesystem::path& url, const std::string& reason) {
    return PackingError(Kind::cannotRead, std::string(kCannotReadText) + url.filename().string() + ": " + reason + ".",
                        url);
}

PackingError PackingError::noSourceImagesFound() {
    return PackingError(Kind::noSourceImagesFound, std::string(kNoSourcesText));
}

PackingError PackingError::noSourceImagesFound(const PackingError& unreadable) {
    return PackingError(Kind::noSourceImagesFound, std::string(kNoSourcesText) + " " + unreadable.what(),
                        unreadable.url());
}

PackingError PackingError::compositionFailed() {
    return PackingError(Kind::compositionFailed, std::string(kCompositionFailedText));
}

std::optional<Image> PackedTexture::toImage() const {
    if (width <= 0 || height <= 0) return std::nullopt;
    if (rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) return std::nullopt;
    Image out;
    out.pixels = cv::Mat(height, width, CV_8UC4);
    std::copy(rgba.begin(), rgba.end(), out.pixels.data);
    return out;
}

void PackedTexture::writePNG(const std::filesystem::path& url) const {
    auto picture = toImage();
    if (!picture) throw PackingError::compositionFailed();
    writePNG(*picture, url);
}

void PackedTexture::writePNG(const Image& picture, const std::filesystem::path& url) {
    const auto folder = url.parent_path();
    if (!folder.empty()) core::createFolders(folder);
    cv::Mat pixels = picture.pixels.isContinuous() ? picture.pixels : picture.pixels.clone();
    auto bytes = textures::encodePNG(pixels);
    if (!bytes) throw PackingError::compositionFailed();
    // A refused write says which file and why ("Could not write
    // Rock_ORM.png: No space left on device").
    core::writeFileAtomically(url, *bytes);
}

PackedTexture PackedTexture::halved() const {
    PackedTexture out;
    out.width = std::max(1, width / 2);
    out.height = std::max(1, height / 2);
    if (width <= 0 || height <= 0 ||
        rgba.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4) {
        out.rgba.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4, 0);
        return out;
    }
    out.rgba.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
    const auto stride = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < out.height; ++y) {
        const std::uint8_t* row0 = rgba.data() + static_cast<std::size_t>(std::min(2 * y, height - 1)) * stride;
        const std::uint8_t* row1 = rgba.data() + static_cast<std::size_t>(std::min(2 * y + 1, height - 1)) * stride;
        std::uint8_t* dst = out.rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) * 4;
        for (int x = 0; x < out.width; ++x) {
            const auto x0 = static_cast<std::size_t>(std::min(2 * x, width - 1)) * 4;
            const auto x1 = static_cast<std::size_t>(std::min(2 * x + 1, width - 1)) * 4;
            for (std::size_t c = 0; c < 4; ++c) {
                const unsigned sum = unsigned{row0[x0 + c]} + row0[x1 + c] + row1[x0 + c] + row1[x1 + c] + 2;
                dst[static_cast<std::size_t>(x) * 4 + c] = static_cast<std::uint8_t>(sum / 4);
            }
        }
    }
    return out;
}

} // namespace image
