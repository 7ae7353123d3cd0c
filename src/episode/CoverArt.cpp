#include "episode/CoverArt.h"

#include <cstdint>
#include <exception>
#include <vector>

#include <fmt/format.h>

#include "core/Files.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/picture/EmbeddedPicture.h"
#include "image/picture/ImageCodecs.h"

namespace episode {

namespace fs = std::filesystem;

namespace {

constexpr double kJPEGQuality = 0.9;
constexpr image::DecodeOptions kStored{.upright = false, .toSRGB = false, .readMetadata = true};
constexpr image::DecodeOptions kUpright{.upright = true, .toSRGB = true, .readMetadata = false};

// The picture decoded upright and encoded as a JPEG. Its pixels are sRGB;
// a profile the engine could not convert from (broken, or not RGB) would
// not describe them either, so the JPEG carries none, and no other block.
CoverArt::Picture uprightJPEG(const std::vector<std::uint8_t>& bytes, const fs::path& file) {
    const image::Image upright = image::loadImageData(bytes, file, kUpright);
    const image::ImageMetadata none;
    const auto jpeg = image::CoreImagePipeline::shared().jpegData(upright, kJPEGQuality, &none);
    if (!jpeg) throw image::ImageReadError::notEnoughMemory(file, {upright.width(), upright.height()});
    const std::string_view encoded(reinterpret_cast<const char*>(jpeg->data()), jpeg->size());
    std::string clean = image::withoutMetadataBlocks(encoded).value_or(std::string(encoded));
    return CoverArt::Picture{std::move(clean), false, upright.width(), upright.height()};
}

CoverArt::Picture load(const fs::path& file) {
    std::string contents;
    try {
        contents = core::readFile(file); // no FIFO, device or folder
    } catch (const core::FileError& e) {
        throw image::ImageReadError::unreadable(e);
    }
    const std::vector<std::uint8_t> bytes(contents.begin(), contents.end());
    // An upright PNG or JPEG goes into the tag as it is, less its metadata;
    // it is decoded all the same, so that a damaged one is left out.
    if (auto clean = image::withoutMetadataBlocks(contents)) {
        const image::Image stored = image::loadImageData(bytes, file, kStored);
        if (image::storedOrientation(stored.metadata) == 1)
            return CoverArt::Picture{std::move(*clean), image::isPNGData(contents), stored.width(), stored.height()};
    }
    return uprightJPEG(bytes, file);
}

} // namespace

std::optional<CoverArt::Picture> CoverArt::forTag(const fs::path& file, std::string* whyNot) {
    std::string reason;
    try {
        return load(file);
    } catch (const image::ImageReadError& e) {
        reason = e.reason();
    } catch (const std::exception& e) {
        reason = image::isOutOfMemory(e) ? "not enough memory" : e.what();
    }
    if (whyNot) *whyNot = reason;
    return std::nullopt;
}

std::string CoverArt::leftOutLine(const fs::path& file, const std::string& reason) {
    return fmt::format("{} can't be used as cover art ({}); the episode is published without it",
                       file.filename().string(), reason);
}

} // namespace episode
