// The texture preset's outputs, mode by mode.

#include <fmt/format.h>

#include "core/Text.h"
#include "image/texture/ChannelPacker.h"
#include "image/texture/NormalMapGenerator.h"
#include "image/texture/TilingChecker.h"
#include "presets/OutputPlanner.h"
#include "presets/ZentrixPreset.h"

namespace presets {

namespace fs = std::filesystem;

namespace {

// One entry stands for a texture's whole mipmap chain.
constexpr const char* kMipmapChain = "_mip1\u2026 (mipmap chain)";

std::string name(const fs::path& file) { return file.filename().string(); }

} // namespace

OutputPlanner::Prediction OutputPlanner::planTexture(const ZentrixPreset& preset, const Slot& slot,
                                                     bool usesDefaultPattern) {
    Prediction out;
    const batch::BatchItem& item = slot.item;
    const fs::path self = ZentrixPreset::standardized(item.sourceURL);
    const std::string tag(image::tag(preset.normalTarget));
    const auto extensions = preset.supportedExtensions();
    const auto isSelf = [&](const std::optional<fs::path>& file) {
        return file && ZentrixPreset::standardized(*file) == self;
    };

    // The normal modes' one output: a fixed name under the default pattern.
    const auto normalName = [&](const std::string& stem) {
        const std::string normal = preset.normalMapStem(stem);
        if (usesDefaultPattern) return normal + ".png";
        return slot.resolve({{"name", normal}, {"profile", tag}, {"pot", "?"}}) + ".png";
    };

    switch (preset.operationalMode) {
    case OperationalMode::channelPackingORM: {
        const image::ChannelPacker packer;
        const auto sources = packer.discoverChannels(item.sourceURL);
        const auto match = packer.identify(item.sourceURL);
        if (!sources || !match) {
            out.warnings.emplace_back("Skipped: not an AO / Roughness / Smoothness / Metallic / Height map");
            break;
        }
        const auto primary = ZentrixPreset::groupLeader(sources->all(), extensions, slot.jobSourcePaths);
        if (!isSelf(primary)) {
            out.warnings.push_back("Skipped: packed together with " + (primary ? name(*primary) : "its set"));
            break;
        }
        image::PixelSize size;
        try {
            size = packer.sourceSize(*sources);
        } catch (const std::exception&) {
            size = {0, 0};
        }
        const auto target = preset.targetSize(size.width, size.height);
        const std::string base = slot.resolve({{"name", match->stem},
                                               {"pot", ZentrixPreset::potToken(target.width, target.height)},
                                               {"profile", std::string(image::fileTag(preset.engineProfile))}});
        out.names.push_back(base + ".png");
        if (preset.generateMipmaps) out.names.push_back(base + kMipmapChain);
        if (const auto missing = sources->missingInputs(preset.engineProfile); !missing.empty())
            out.warnings.push_back("No " + core::join(missing, "/") + " map found; " +
                                   std::string(image::displayName(preset.engineProfile)) + " defaults will be used");
        if (preset.generateMissingNormal && sources->maps.count(image::Channel::height) &&
            !image::NormalMapGenerator::hasNormalMap(match->stem, item.sourceURL.parent_path()))
            out.names.push_back(preset.normalMapStem(match->stem) + ".png");
        break;
    }
    case OperationalMode::normalMapConvert: {
        const auto match = image::ChannelPacker().identifyNormal(item.sourceURL);
        if (!match) {
            out.warnings.emplace_back(
                "Skipped: not named like a normal map (_Normal, _NormalDX, _NormalGL, _Nrm)");
        } else if (match->convention == preset.normalTarget) {
            out.warnings.push_back("Skipped: already " + tag);
        } else {
            out.names.push_back(normalName(match->stem));
        }
        break;
    }
    case OperationalMode::normalFromHeight: {
        const auto stem = image::NormalMapGenerator::stem(item.sourceURL);
        out.names.push_back(normalName(stem.stem));
        if (!stem.isNamedHeight)
            out.warnings.emplace_back(
                "Not named like a height map (_Height, _Disp, _Bump); it will be treated as one");
        break;
    }
    case OperationalMode::powerOfTwoEnforce: {
        std::string pot = "?";
        if (const auto size = image::ChannelPacker::pixelSize(item.sourceURL)) {
            const auto target = preset.targetSize(size->width, size->height);
            pot = ZentrixPreset::potToken(target.width, target.height);
            // forceSquare only acts while power-of-two sizes are enforced.
            if (preset.enforcePOT && preset.forceSquare && size->width != size->height)
                out.warnings.push_back(
                    fmt::format("Will be stretched from {}x{} to square", size->width, size->height));
        }
        const std::string base = slot.resolve({{"pot", pot}, {"profile", "POT"}});
        out.names.push_back(base + ".png");
        // The preset writes a chain here too.
        if (preset.generateMipmaps) out.names.push_back(base + kMipmapChain);
        break;
    }
    case OperationalMode::spriteSheetAtlas: {
        const auto sequence = ZentrixPreset::frameSequence(item.sourceURL, extensions);
        if (!isSelf(ZentrixPreset::groupLeader(sequence.frames, extensions, slot.jobSourcePaths))) {
            out.warnings.push_back("Skipped: frame of the " + sequence.name + " sprite sheet");
            break;
        }
        std::vector<std::string> suffixes{""};
        if (preset.spriteHalfScale) suffixes.emplace_back("@1x");
        for (const auto& suffix : suffixes) {
            const auto files = ZentrixPreset::spriteFileNames(sequence.name, suffix, 1, preset.spriteFormat);
            out.names.insert(out.names.end(), files.images.begin(), files.images.end());
            out.names.insert(out.names.end(), files.data.begin(), files.data.end());
        }
        if (preset.spriteRotate && !preset.spriteRotationAllowed())
            out.warnings.push_back(std::string(image::displayName(preset.spriteFormat)) +
                                   " can't use rotated frames; rotation is off for this format");
        if (sequence.frames.size() == 1) out.warnings.emplace_back("Only one frame found for this sheet");
        break;
    }
    case OperationalMode::tilingCheck: {
        try {
            const auto result = image::TilingChecker::check(item.sourceURL);
            if (!result.isSeamless()) {
                out.names.push_back(item.originalFileName + "_Tiled2x2.png");
                out.warnings.push_back(result.summary());
            }
        } catch (const std::exception&) {
            out.warnings.emplace_back("Could not read the image");
        }
        break;
    }
    }
    return out;
}

} // namespace presets
