#include "episode/CoverArt.h"

#include <cstdint>
#include <exception>
#include <system_error>
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
// As stored, for the orientation its metadata gives; the pixels in sRGB
// all the same, for whoever shows them.
constexpr image::DecodeOptions kStored{.upright = false, .toSRGB = true, .readMetadata = true};
constexpr image::DecodeOptions kUpright{.upright = true, .toSRGB = true, .readMetadata = false};

// The upright picture encoded as a JPEG. Its pixels are sRGB; a profile the
// engine could not convert from (broken, or not RGB) would not describe
// them either, so the JPEG carries none, and no other block.
CoverArt::Picture uprightJPEG(const image::Image& upright, const fs::path& file) {
    const image::ImageMetadata none;
    const auto jpeg = image::CoreImagePipeline::shared().jpegData(upright, kJPEGQuality, &none);
    if (!jpeg) throw image::ImageReadError::notEnoughMemory(file, {upright.width(), upright.height()});
    const std::string_view encoded(reinterpret_cast<const char*>(jpeg->data()), jpeg->size());
    std::string clean = image::withoutMetadataBlocks(encoded).value_or(std::string(encoded));
    return CoverArt::Picture{std::move(clean), false, upright.width(), upright.height()};
}

// The file decoded once: as stored when its own bytes may go into the tag
// (so that its orientation can be read), else upright.
CoverArt::Prepared load(const fs::path& file) {
    std::optional<CoverArt::Picture> own;
    image::Image upright;
    {
        std::string contents;
        try {
            contents = core::readFile(file); // no FIFO, device or folder
        } catch (const core::FileError& e) {
            throw image::ImageReadError::unreadable(e);
        }
        const std::vector<std::uint8_t> bytes(contents.begin(), contents.end());
        // An upright PNG or JPEG goes into the tag as it is, less its
        // metadata, unless its colour is inks, which players and podcast
        // directories show wrongly. It is decoded all the same, so that a
        // damaged one is left out.
        auto clean = image::withoutMetadataBlocks(contents);
        if (clean && !image::holdsInks(contents)) {
            image::Image stored = image::loadImageData(bytes, file, kStored);
            if (image::storedOrientation(stored.metadata) == 1)
                own = CoverArt::Picture{std::move(*clean), image::isPNGData(contents), stored.width(), stored.height()};
            upright = image::turnedUpright(std::move(stored));
            upright.metadata = {};
        } else {
            upright = image::loadImageData(bytes, file, kUpright);
        }
    }
    CoverArt::Picture tag = own ? std::move(*own) : uprightJPEG(upright, file);
    return CoverArt::Prepared{std::move(tag), std::move(upright)};
}

// Why the file can't be used, in a few lower-case words like the engine's
// other reasons: a cover named but not there is "not found" (as the intro
// and outro say), rather than the system's "No such file or directory".
std::string reasonFor(const image::ImageReadError& e, const fs::path& file) {
    std::error_code ec;
    if (e.kind() == image::ImageReadError::Kind::unreadable && !fs::exists(file, ec) && !ec) return "not found";
    return e.reason();
}

} // namespace

std::optional<CoverArt::Prepared> CoverArt::prepare(const fs::path& file, std::string* whyNot) {
    std::string reason;
    try {
        return load(file);
    } catch (const image::ImageReadError& e) {
        reason = reasonFor(e, file);
    } catch (const std::exception& e) {
        reason = image::isOutOfMemory(e) ? "not enough memory" : e.what();
    }
    if (whyNot) *whyNot = reason;
    return std::nullopt;
}

std::optional<CoverArt::Picture> CoverArt::forTag(const fs::path& file, std::string* whyNot) {
    auto prepared = prepare(file, whyNot);
    if (!prepared) return std::nullopt;
    return std::move(prepared->tag);
}

std::string CoverArt::leftOutLine(const fs::path& file, const std::string& reason) {
    return fmt::format("{} can't be used as cover art ({}); the episode is published without it",
                       file.filename().string(), reason);
}

} // namespace episode
