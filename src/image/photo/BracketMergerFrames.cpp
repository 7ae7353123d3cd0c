// Bracket frames read from files: the size comes from the header (turned by
// the stored orientation), the pixels only when the fusion renders the frame.

#include <cstdint>
#include <memory>
#include <string>

#include <libheif/heif.h>

#include "core/Files.h"
#include "image/photo/BracketMerger.h"
#include "image/picture/CodecSupport.h"
#include "image/picture/ImageCodecs.h"

namespace image {

namespace {

// HEIF is turned by its own transform boxes; the primary image's size after
// them is what the decoder hands over.
std::optional<PixelSize> heifUprightSize(const std::filesystem::path& path) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx(detail::newHeifContext(), heif_context_free);
    if (!ctx || heif_context_read_from_file(ctx.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* handle = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &handle).code != heif_error_Ok) return std::nullopt;
    PixelSize size{heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
    heif_image_handle_release(handle);
    return size;
}

std::optional<PixelSize> uprightSize(const std::filesystem::path& path) {
    std::string head;
    try {
        // libheif opens the file by its name; the checks come first.
        head = core::readFileHead(path, 32);
    } catch (const core::FileError&) {
        return std::nullopt;
    }
    const auto got = static_cast<int>(head.size());
    if (got >= 12 && heif_check_filetype(reinterpret_cast<const std::uint8_t*>(head.data()), got) ==
                         heif_filetype_yes_supported)
        return heifUprightSize(path);
    const auto stored = readPixelSize(path);
    if (!stored) return std::nullopt;
    const auto metadata = readMetadata(path);
    const bool quarterTurn = metadata && detail::orientationOf(*metadata) >= 5;
    if (quarterTurn) return PixelSize{stored->height, stored->width};
    return stored;
}

} // namespace

BracketMerger::FrameSource BracketMerger::FrameSource::file(const std::filesystem::path& path) {
    FrameSource source;
    if (auto size = uprightSize(path)) {
        source.width = size->width;
        source.height = size->height;
    }
    source.render = [path]() -> cv::Mat {
        DecodeOptions options;
        options.upright = true;
        options.toSRGB = true;
        options.readMetadata = false;
        auto decoded = decodeImageFile(path, options);
        return decoded ? decoded->pixels : cv::Mat();
    };
    return source;
}

} // namespace image
