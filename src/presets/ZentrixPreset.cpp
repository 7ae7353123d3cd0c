#include "presets/ZentrixPreset.h"

#include <algorithm>
#include <cmath>

#include "core/Numbers.h"

namespace presets {

ZentrixPreset::TextureError ZentrixPreset::TextureError::cannotOpenImage(const std::filesystem::path& file) {
    return TextureError("Failed to open texture image at " + file.filename().string());
}
ZentrixPreset::TextureError ZentrixPreset::TextureError::notSeamless(const std::string& text) {
    return TextureError(text);
}
ZentrixPreset::TextureError ZentrixPreset::TextureError::processingUnavailable() {
    return TextureError("Texture processing is not available in this build: the image engine is missing.");
}

ZentrixPreset::ZentrixPreset() = default;

ZentrixPreset::ZentrixPreset(OperationalMode operationalMode, image::EngineProfile engineProfile, bool enforcePOT,
                             image::ScaleMode potScaleMode, bool forceSquare, std::int64_t maxTextureSize,
                             bool generateMipmaps)
    : operationalMode(operationalMode), engineProfile(engineProfile), enforcePOT(enforcePOT),
      potScaleMode(potScaleMode), forceSquare(forceSquare), maxTextureSize(maxTextureSize),
      generateMipmaps(generateMipmaps) {}

std::string ZentrixPreset::id() const { return "com.tembrook.zentrix"; }
std::string ZentrixPreset::displayName() const { return "Zentrix Express"; }
std::string ZentrixPreset::verticalName() const { return "Indie Game Dev & 3D Art"; }
std::string ZentrixPreset::description() const {
    return "Packs PBR maps for Unreal, Unity and Godot, converts DirectX/OpenGL normal maps, enforces power-of-two "
           "sizes, and builds trimmed sprite sheets for Phaser, PixiJS and Godot.";
}
std::string ZentrixPreset::systemIconName() const { return "cube.transparent"; }
std::set<std::string> ZentrixPreset::supportedExtensions() const {
    return {"png", "tga", "tiff", "tif", "jpg", "jpeg", "exr"};
}
std::string ZentrixPreset::defaultNamingPattern() const { return "{name}_{profile}_{pot}"; }

ZentrixPreset::Size ZentrixPreset::targetSize(std::int64_t width, std::int64_t height) const {
    Size out{width, height};
    if (enforcePOT) out = image::PowerOfTwoScaler().potSize(width, height, potScaleMode, forceSquare);
    const std::int64_t longer = std::max(out.width, out.height);
    if (maxTextureSize > 0 && longer > maxTextureSize) {
        const double scale = static_cast<double>(maxTextureSize) / static_cast<double>(longer);
        // Every scaled side is at most maxTextureSize, so it fits; round()
        // sends halves away from zero.
        auto scaled = [scale](std::int64_t side) {
            const auto v = core::toInt64(std::round(static_cast<double>(side) * scale));
            return std::max<std::int64_t>(1, v.value_or(1));
        };
        out = {scaled(out.width), scaled(out.height)};
    }
    return out;
}

std::vector<std::filesystem::path> ZentrixPreset::process(const batch::BatchItem&,
                                                          const batch::ProcessingContext&) const {
    throw TextureError::processingUnavailable();
}

} // namespace presets
