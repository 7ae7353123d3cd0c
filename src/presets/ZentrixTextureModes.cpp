// The texture preset's per-file modes: channel packing, normal maps, power
// of two and the tiling check. Sprite sheets are in ZentrixSprites.cpp.

#include <algorithm>
#include <limits>

#include "batch/BatchSkip.h"
#include "core/Text.h"
#include "image/texture/ChannelPacker.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/texture/NormalMapGenerator.h"
#include "image/texture/TextureLoaders.h"
#include "image/texture/TilingChecker.h"
#include "presets/ZentrixPreset.h"

namespace presets {

namespace fs = std::filesystem;

namespace {

// A pixel count as the engine's int, kept within its range.
int asInt(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(),
                                                     std::numeric_limits<int>::max()));
}

// What the power-of-two writes store: 8-bit RGBA, no properties of the source.
void writeTexturePNG(const cv::Mat& pixels, const fs::path& url) {
    const cv::Mat rgba8 = image::textures::rgba8At(pixels, pixels.cols, pixels.rows);
    const image::ImageMetadata none;
    image::CoreImagePipeline::shared().write(image::Image{rgba8, {}}, url, 0.92, &none);
}

} // namespace

ZentrixPreset::Outputs ZentrixPreset::packChannels(const batch::BatchItem& item,
                                                   const batch::ProcessingContext& context) const {
    const fs::path& folder = context.configuration.outputDirectory;
    const image::ChannelPacker packer;
    progress(context, 0.2, "Discovering texture channels...");
    const auto sources = packer.discoverChannels(item.sourceURL);
    if (!sources)
        throw batch::BatchSkip(item.originalFileName +
                               " isn't an AO / Roughness / Smoothness / Metallic / Height map");

    const auto primary = groupLeader(sources->all(), supportedExtensions(), jobFiles(context));
    if (!primary) throw batch::BatchSkip(item.originalFileName + " is packed together with its set");
    if (standardized(*primary) != standardized(item.sourceURL))
        throw batch::BatchSkip(item.originalFileName + " is packed together with " + primary->filename().string());

    const auto match = packer.identify(item.sourceURL);
    const std::string stem = match ? match->stem : item.originalFileName;
    std::vector<std::string> names;
    for (const auto& map : sources->all()) names.push_back(map.filename().string());
    const std::string profileName(image::displayName(engineProfile));
    log(context, "Packing " + stem + " for " + profileName + ": " + core::join(names, ", "));
    if (const auto missing = sources->missingInputs(engineProfile); !missing.empty())
        log(context, stem + ": no " + core::join(missing, "/") + " map, using engine defaults");

    const image::PixelSize size = packer.sourceSize(*sources);
    const Size target = targetSize(size.width, size.height);
    progress(context, 0.5, "Compositing " + profileName + " channels...");
    image::PackedTexture packed = packer.pack(*sources, engineProfile, asInt(target.width), asInt(target.height));

    const std::string base = patternName(item, context,
                                         {{"name", stem},
                                          {"pot", potToken(target.width, target.height)},
                                          {"profile", std::string(image::fileTag(engineProfile))}});
    Outputs outputs;
    outputs.push_back(folder / (base + ".png"));
    context.claimant.claim({outputs.back()});
    packed.writePNG(outputs.back());

    if (generateMipmaps) {
        progress(context, 0.85, "Generating mipmap chain...");
        int level = 0;
        while (std::max(packed.width, packed.height) >= 17) {
            packed = packed.halved();
            ++level;
            outputs.push_back(folder / mipmapFileName(base, level, std::max(packed.width, packed.height)));
            context.claimant.claim({outputs.back()});
            packed.writePNG(outputs.back());
        }
    }

    const auto height = sources->maps.find(image::Channel::height);
    if (generateMissingNormal && height != sources->maps.end() &&
        !image::NormalMapGenerator::hasNormalMap(stem, item.sourceURL.parent_path())) {
        progress(context, 0.9, "Making normal map from height...");
        const image::PackedTexture normal =
            image::NormalMapGenerator::fromHeight(height->second, normalStrength, normalTarget,
                                                  asInt(std::max(target.width, target.height)), true);
        const std::string name = normalMapStem(stem) + ".png";
        outputs.push_back(folder / name);
        context.claimant.claim({outputs.back()}, batch::OutputClaims::Naming::fixed);
        normal.writePNG(outputs.back());
        log(context, stem + ": no normal map found, made " + name + " from the height map");
    }
    return outputs;
}

ZentrixPreset::Outputs ZentrixPreset::writeNormalMap(const image::PackedTexture& texture, const std::string& stem,
                                                     const batch::BatchItem& item,
                                                     const batch::ProcessingContext& context) const {
    const std::string tag(image::tag(normalTarget));
    const std::string name = usesDefaultPattern(context.configuration.namingPattern)
                                 ? normalMapStem(stem)
                                 : patternName(item, context,
                                               {{"name", normalMapStem(stem)},
                                                {"profile", tag},
                                                {"pot", potToken(texture.width, texture.height)}});
    const fs::path url = context.configuration.outputDirectory / (name + ".png");
    context.claimant.claim({url});
    texture.writePNG(url);
    return {url};
}

ZentrixPreset::Outputs ZentrixPreset::convertNormalMap(const batch::BatchItem& item,
                                                       const batch::ProcessingContext& context) const {
    const image::ChannelPacker packer;
    const auto match = packer.identifyNormal(item.sourceURL);
    if (!match)
        throw batch::BatchSkip(item.originalFileName +
                               " isn't named like a normal map (_Normal, _NormalDX, _NormalGL, _Nrm)");
    if (match->convention && *match->convention == normalTarget)
        throw batch::BatchSkip(item.originalFileName + " is already " + std::string(image::tag(normalTarget)));
    progress(context, 0.4, "Flipping green channel...");
    const image::PackedTexture texture = packer.flipNormalGreen(item.sourceURL, asInt(maxTextureSize));
    return writeNormalMap(texture, match->stem, item, context);
}

ZentrixPreset::Outputs ZentrixPreset::normalMapFromHeight(const batch::BatchItem& item,
                                                          const batch::ProcessingContext& context) const {
    const auto stem = image::NormalMapGenerator::stem(item.sourceURL);
    progress(context, 0.4, "Building normal map...");
    const image::PackedTexture texture = image::NormalMapGenerator::fromHeight(
        item.sourceURL, normalStrength, normalTarget, asInt(maxTextureSize), true);
    return writeNormalMap(texture, stem.stem, item, context);
}

ZentrixPreset::Outputs ZentrixPreset::enforcePowerOfTwo(const batch::BatchItem& item,
                                                        const batch::ProcessingContext& context) const {
    const fs::path& folder = context.configuration.outputDirectory;
    progress(context, 0.3, "Rescaling to Power-of-Two...");
    std::optional<image::Image> loaded;
    try {
        loaded = image::CoreImagePipeline::shared().loadImageOrFail(item.sourceURL);
    } catch (const image::ImageReadError& e) {
        if (e.standsAlone()) throw;
        throw TextureError::cannotOpenImage(item.sourceURL, e.reason());
    }

    const Size target = targetSize(loaded->width(), loaded->height());
    const image::PowerOfTwoScaler scaler;
    const cv::Mat scaled = scaler.scale(loaded->pixels, asInt(target.width), asInt(target.height));

    const std::string base = patternName(item, context,
                                         {{"pot", potToken(target.width, target.height)}, {"profile", "POT"}});
    Outputs outputs;
    outputs.push_back(folder / (base + ".png"));
    context.claimant.claim({outputs.back()});
    writeTexturePNG(scaled, outputs.back());

    if (generateMipmaps) {
        for (const auto& level : image::PowerOfTwoScaler().generateMipmaps(scaled, 16)) {
            if (level.level < 1) continue;
            outputs.push_back(folder / mipmapFileName(base, level.level, level.dimension));
            context.claimant.claim({outputs.back()});
            writeTexturePNG(level.image, outputs.back());
        }
    }
    return outputs;
}

ZentrixPreset::Outputs ZentrixPreset::checkTiling(const batch::BatchItem& item,
                                                  const batch::ProcessingContext& context) const {
    progress(context, 0.4, "Comparing edges...");
    const image::TilingChecker::Result result = image::TilingChecker::check(item.sourceURL);
    if (result.isSeamless()) {
        log(context, item.originalFileName + ": tiles seamlessly");
        return {};
    }
    const std::string previewName = item.originalFileName + "_Tiled2x2.png";
    const fs::path preview = context.configuration.outputDirectory / previewName;
    context.claimant.claim({preview}, batch::OutputClaims::Naming::fixed);
    image::PackedTexture::writePNG(image::TilingChecker::tiledPreview(item.sourceURL, 1024), preview);
    throw TextureError::notSeamless(result.summary() + ". Preview: " + previewName);
}

} // namespace presets
