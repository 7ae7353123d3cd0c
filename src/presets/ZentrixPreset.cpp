#include "presets/ZentrixPreset.h"

#include <algorithm>
#include <cmath>

#include <fmt/format.h>

#include "core/Files.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "image/picture/ImageCodecs.h"

namespace presets {

ZentrixPreset::TextureError ZentrixPreset::TextureError::cannotOpenImage(const std::filesystem::path& file) {
    return TextureError("Failed to open texture image at " + file.filename().string());
}
ZentrixPreset::TextureError ZentrixPreset::TextureError::cannotOpenImage(const std::filesystem::path& file,
                                                                        const std::string& reason) {
    return TextureError(std::string(cannotOpenImage(file).what()) + ": " + reason);
}
ZentrixPreset::TextureError ZentrixPreset::TextureError::notSeamless(const std::string& text) {
    return TextureError(text);
}
ZentrixPreset::TextureError
ZentrixPreset::TextureError::leftOutFrame(const image::SpriteSheetCompiler::LeftOutFrame& frame) {
    const std::string cause = frame.damaged ? frame.reason : "Could not read the frame " + frame.name;
    return TextureError(cause + "; the sheet was made without it");
}
ZentrixPreset::TextureError
ZentrixPreset::TextureError::unreadableFrame(const image::SpriteSheetCompiler::LeftOutFrame& frame) {
    return TextureError(frame.reason);
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

core::SweepResult ZentrixPreset::sweepLeftovers() { return core::sweepLeftovers(kWorkFolderPrefix); }

std::vector<std::filesystem::path> ZentrixPreset::process(const batch::BatchItem& item,
                                                          const batch::ProcessingContext& context) const try {
    // Every mode writes straight into the output folder; a run killed
    // mid-write leaves its temporary file there for the next start to sweep.
    const core::SweepRecord sweepRecord(kWorkFolderPrefix, item.originalFileName,
                                        {context.configuration.outputDirectory}, context.log);
    Outputs outputs;
    switch (operationalMode) {
    case OperationalMode::channelPackingORM: outputs = packChannels(item, context); break;
    case OperationalMode::normalMapConvert: outputs = convertNormalMap(item, context); break;
    case OperationalMode::normalFromHeight: outputs = normalMapFromHeight(item, context); break;
    case OperationalMode::powerOfTwoEnforce: outputs = enforcePowerOfTwo(item, context); break;
    case OperationalMode::spriteSheetAtlas: outputs = compileSpriteSheets(item, context); break;
    case OperationalMode::tilingCheck: outputs = checkTiling(item, context); break;
    }
    progress(context, 1.0, "Texture processing finished.");
    return outputs;
} catch (...) {
    // A library's own words for a shortage of memory say nothing to a user.
    image::rethrowNamingMemory(item.sourceURL);
}

// ---- Rules shared with the output planner ----

std::optional<std::filesystem::path> ZentrixPreset::groupLeader(const std::vector<std::filesystem::path>& group,
                                                                const std::set<std::string>& extensions,
                                                                const std::vector<std::filesystem::path>& jobSourcePaths) {
    if (group.empty()) return std::nullopt;
    if (!jobSourcePaths.empty()) {
        std::set<std::filesystem::path> job;
        for (const auto& path : jobSourcePaths) job.insert(standardized(path));
        for (const auto& member : group) {
            std::string ext = member.extension().string();
            if (!ext.empty()) ext = core::toLower(std::string_view(ext).substr(1));
            if (extensions.count(ext) && job.count(standardized(member))) return member;
        }
    }
    return group.front();
}

std::filesystem::path ZentrixPreset::standardized(const std::filesystem::path& path) {
    return core::standardized(path);
}

bool ZentrixPreset::usesDefaultPattern(std::string_view namingPattern) const {
    return namingPattern == defaultNamingPattern();
}

std::string ZentrixPreset::potToken(std::int64_t width, std::int64_t height) {
    return fmt::format("{}x{}", width, height);
}

std::string ZentrixPreset::normalMapStem(std::string_view stem) const {
    return std::string(stem) + "_Normal" + std::string(image::tag(normalTarget));
}

std::string ZentrixPreset::mipmapFileName(std::string_view base, int level, int dimension) {
    return fmt::format("{}_mip{}_{}.png", base, level, dimension);
}

// ---- Helpers of the modes ----

std::string ZentrixPreset::patternName(const batch::BatchItem& item, const batch::ProcessingContext& context,
                                       const std::map<std::string, std::string>& tokens) {
    return batch::TokenRenamer().resolve(context.configuration.namingPattern, item, context.itemIndex,
                                         context.totalItems, tokens);
}

const std::vector<std::filesystem::path>& ZentrixPreset::jobFiles(const batch::ProcessingContext& context) {
    static const std::vector<std::filesystem::path> none;
    return context.jobSourcePaths ? *context.jobSourcePaths : none;
}

void ZentrixPreset::progress(const batch::ProcessingContext& context, double fraction, std::string message) {
    if (context.onProgressUpdate) context.onProgressUpdate(fraction, std::move(message));
}

void ZentrixPreset::log(const batch::ProcessingContext& context, std::string line) {
    if (context.log) context.log(std::move(line));
}

} // namespace presets
