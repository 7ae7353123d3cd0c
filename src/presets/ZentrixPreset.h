#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "batch/BatchPreset.h"
#include "core/EnumTable.h"
#include "core/Error.h"
#include "image/PowerOfTwoScaler.h"
#include "image/TextureOptions.h"

namespace presets {

// The texture job run on each item. The raw value is also the display title.
enum class OperationalMode { channelPackingORM, normalMapConvert, normalFromHeight, powerOfTwoEnforce, spriteSheetAtlas, tilingCheck };

inline constexpr core::EnumTable<OperationalMode, 6> kOperationalModes{{{
    {OperationalMode::channelPackingORM, "Channel Packing (ORM / MaskMap)", "Channel Packing (ORM / MaskMap)"},
    {OperationalMode::normalMapConvert, "Normal Map: DirectX \u21C4 OpenGL", "Normal Map: DirectX \u21C4 OpenGL"},
    {OperationalMode::normalFromHeight, "Normal Map from Height Map", "Normal Map from Height Map"},
    {OperationalMode::powerOfTwoEnforce, "Enforce Power-of-Two (POT)", "Enforce Power-of-Two (POT)"},
    {OperationalMode::spriteSheetAtlas, "2D Sprite Sheet Compilation", "2D Sprite Sheet Compilation"},
    {OperationalMode::tilingCheck, "Seamless Tiling Check", "Seamless Tiling Check"},
}}};

inline std::string_view rawValue(OperationalMode m) { return kOperationalModes.rawValue(m); }
inline std::string_view displayName(OperationalMode m) { return kOperationalModes.displayName(m); }
inline std::optional<OperationalMode> operationalModeFromRaw(std::string_view raw) { return kOperationalModes.fromRaw(raw); }
inline std::vector<OperationalMode> allOperationalModes() { return kOperationalModes.allCases(); }

// The game-texture edition's preset.
class ZentrixPreset : public batch::BatchPreset {
public:
    using OperationalMode = presets::OperationalMode;
    using Size = image::PowerOfTwoScaler::Size;

    class TextureError : public core::Error {
    public:
        using core::Error::Error;
        static TextureError cannotOpenImage(const std::filesystem::path& file);
        static TextureError notSeamless(const std::string& text);
        // Texture processing is not part of this build yet.
        static TextureError processingUnavailable();
    };

    // Every option at its default (the edition's default preset).
    ZentrixPreset();
    // The seven given options; every other option at its default.
    ZentrixPreset(OperationalMode operationalMode, image::EngineProfile engineProfile, bool enforcePOT,
                  image::ScaleMode potScaleMode, bool forceSquare, std::int64_t maxTextureSize, bool generateMipmaps);

    std::string id() const override;
    std::string displayName() const override;
    std::string verticalName() const override;
    std::string description() const override;
    std::string systemIconName() const override;
    std::set<std::string> supportedExtensions() const override;
    std::string defaultNamingPattern() const override;

    // Fails every item until the texture engine is part of the build.
    std::vector<std::filesystem::path> process(const batch::BatchItem& item,
                                               const batch::ProcessingContext& context) const override;

    // Output size for a source size: power of two first (when enforced),
    // then the longest-side cap (when positive), each side at least 1.
    Size targetSize(std::int64_t width, std::int64_t height) const;

    OperationalMode operationalMode = OperationalMode::channelPackingORM;
    image::EngineProfile engineProfile = image::EngineProfile::unrealORM;
    bool enforcePOT = true;
    image::ScaleMode potScaleMode = image::ScaleMode::nearestPowerOfTwo();
    bool forceSquare = false;
    std::int64_t maxTextureSize = 0; // 0: no limit
    bool generateMipmaps = false;
    image::NormalConvention normalTarget = image::NormalConvention::openGL;
    bool spriteTrim = true;
    std::int64_t spritePadding = 2;
    std::int64_t spriteExtrude = 1;
    bool spriteHalfScale = false;
    image::DataFormat spriteFormat = image::DataFormat::jsonHash;
    bool spriteRotate = false;
    double normalStrength = 2.0;
    bool generateMissingNormal = false;
};

} // namespace presets
