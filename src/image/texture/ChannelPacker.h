#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

#include <opencv2/core.hpp>

#include "image/picture/ImageCodecs.h"
#include "image/texture/PackedTexture.h"
#include "image/texture/TextureOptions.h"

namespace image {

// Recognises the maps of a physically based material by their file names
// and packs them into one RGBA texture in an engine's channel layout. Holds
// no state; make one where it is needed.
class ChannelPacker {
public:
    using Channel = image::Channel;
    using ChannelRecipe = image::ChannelRecipe;
    using EngineProfile = image::EngineProfile;
    using NormalConvention = image::NormalConvention;
    using PackingError = image::PackingError;

    // The maps of one material, at most one per channel.
    struct ChannelSources {
        std::map<Channel, std::filesystem::path> maps;

        bool operator==(const ChannelSources&) const = default;

        // The maps in channel order (AO, Roughness, Smoothness, Metallic,
        // Height, Detail Mask), absent channels left out.
        std::vector<std::filesystem::path> all() const;
        // The first of all(): the material's primary file.
        std::optional<std::filesystem::path> primaryURL() const;
        // Display names of the channels the profile's layout needs that have
        // no usable map, in layout order without repeats. Roughness and
        // smoothness stand in for each other.
        std::vector<std::string> missingInputs(EngineProfile profile) const;
    };

    struct ChannelMatch {
        std::string stem; // in the file's own case
        Channel channel;
        bool operator==(const ChannelMatch&) const = default;
    };

    struct NormalMatch {
        std::string stem;
        std::optional<NormalConvention> convention;
        bool operator==(const NormalMatch&) const = default;
    };

    // The nine lower-case extensions of texture files.
    static const std::unordered_set<std::string>& imageExtensions();

    // The channel a file's name declares and the stem before the ending.
    // Endings compare without regard to case, longest first; an ending that
    // would leave an empty stem is passed over.
    std::optional<ChannelMatch> identify(const std::filesystem::path& url) const;
    // The same for normal-map endings, with the convention the ending names.
    std::optional<NormalMatch> identifyNormal(const std::filesystem::path& url) const;
    // The maps of the same material in the file's folder (hidden files
    // skipped, names in byte order, the first file per channel winning except
    // that the asked-about file always wins its own channel). Nothing when
    // the file itself is not a channel map; an unlistable folder counts as
    // holding the file alone.
    std::optional<ChannelSources> discoverChannels(const std::filesystem::path& url) const;

    // The pixel size of the primary map, from its header. Throws
    // noSourceImagesFound when there is no map or its size can't be read
    // (then with the map's name and the reason, as cannotRead gives them).
    PixelSize sourceSize(const ChannelSources& sources) const;

    // The material packed in the profile's layout at exactly width x height.
    // A channel without a map takes its default (or its partner inverted);
    // every map is decoded once per call. Throws noSourceImagesFound for no
    // maps, cannotRead for a needed map that can't be decoded.
    PackedTexture pack(const ChannelSources& sources, EngineProfile profile, int width, int height) const;

    // The normal map with its green channel inverted (OpenGL <-> DirectX),
    // shrunk so its longer side is at most maxSize (0 or less: no limit). The
    // map's own alpha is kept (it may hold height); opaque when it has none.
    PackedTexture flipNormalGreen(const std::filesystem::path& url, int maxSize) const;

    // Loaders shared with the normal-map generator and the tiling check.
    // The stored pixel size from the file's header; no pixel is decoded.
    static std::optional<PixelSize> pixelSize(const std::filesystem::path& url);
    // The same, or PackingError::cannotRead with the reason the file has
    // none (the file is empty, not an image, not a regular file, ...).
    static PixelSize pixelSizeOrFail(const std::filesystem::path& url);
    // The map's gray values at width x height (BT.709 luma of colour
    // sources, halves rounded away from zero). Throws as
    // textures::decodeTexture does; nothing when it gives no gray values.
    static std::optional<std::vector<std::uint8_t>> loadGrayscale(const std::filesystem::path& url, int width,
                                                                  int height);
    // A picture (RGBA at any depth) at width x height as 4 bytes a pixel, R,
    // G, B and a fourth byte of 255 (alpha is not carried). Nothing for an
    // empty picture.
    static std::optional<std::vector<std::uint8_t>> loadRGB(const cv::Mat& picture, int width, int height);
};

} // namespace image
