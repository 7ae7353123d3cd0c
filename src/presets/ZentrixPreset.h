#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "batch/BatchPreset.h"
#include "batch/TokenRenamer.h"
#include "core/EnumTable.h"
#include "core/Error.h"
#include "core/WorkArea.h"
#include "image/texture/PackedTexture.h"
#include "image/texture/PowerOfTwoScaler.h"
#include "image/sprite/SpriteSheetCompiler.h"
#include "image/texture/TextureOptions.h"

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
        // The same text followed by ": " and why ("not an image").
        static TextureError cannotOpenImage(const std::filesystem::path& file, const std::string& reason);
        static TextureError notSeamless(const std::string& text);
        // A frame left off its sheet: "<file name> is damaged: <why>; the
        // sheet was made without it" when the reader found it damaged, else
        // "Could not read the frame <file name>; the sheet was made without it".
        static TextureError leftOutFrame(const image::SpriteSheetCompiler::LeftOutFrame& frame);
        // A frame of a sequence none of whose frames could be read: the
        // reader's text ("walk_3.png is not an image").
        static TextureError unreadableFrame(const image::SpriteSheetCompiler::LeftOutFrame& frame);
    };

    // The numbered frames one file belongs to and the sheet's name.
    struct FrameSequence {
        std::string name;
        std::vector<std::filesystem::path> frames;
        bool operator==(const FrameSequence&) const = default;
    };

    // The file names of one sheet set (relative to the output folder).
    struct SpriteFileNames {
        std::vector<std::string> images;
        std::vector<std::string> data;
        bool operator==(const SpriteFileNames&) const = default;
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

    // Work folders are "Zentrix-<UUID>" under the temporary directory; every
    // item holds one while it runs, noting the folders it writes into.
    static constexpr std::string_view kWorkFolderPrefix = "Zentrix";
    // Removes what crashed or killed runs left: their work folders and the
    // temporary files in their output folders. Called once at start-up.
    static core::SweepResult sweepLeftovers();

    // Runs the job of operationalMode on one file and returns the files
    // written, in the order written. Files of a group whose work runs on
    // another item (material maps, sprite frames) and normal maps already in
    // the target convention are skipped (batch::BatchSkip).
    std::vector<std::filesystem::path> process(const batch::BatchItem& item,
                                               const batch::ProcessingContext& context) const override;

    // Output size for a source size: power of two first (when enforced),
    // then the longest-side cap (when positive), each side at least 1.
    Size targetSize(std::int64_t width, std::int64_t height) const;

    // ---- Rules shared with the output planner. ----

    // The sprite sequence of a file: a name ending in digits (walk_07) is a
    // frame of every file in its folder with the same prefix and extension,
    // ordered by number (names in byte order first, so equal numbers such
    // as walk_1 and walk_01 keep one order); other files stand alone. Never
    // fails: an unlistable folder leaves the file alone.
    static FrameSequence frameSequence(const std::filesystem::path& containing,
                                       const std::set<std::string>& extensions);

    // Page images and data files of a sheet set: "<seq>_Atlas<suffix>.png"
    // for one page, "<seq>_Atlas-<i><suffix>.png" for several; one data file
    // per page, except Godot's single "<seq>_Atlas<suffix>.tres".
    static SpriteFileNames spriteFileNames(std::string_view sequence, std::string_view suffix, std::size_t pages,
                                           image::DataFormat format);

    // The file of a group (a material's maps in channel order, a sequence's
    // frames) whose run does the group's work: the first one with an accepted
    // extension that the job holds. Without a job list (a context made by
    // hand), or when the job holds none of them, the group's first file.
    // Nothing for an empty group.
    static std::optional<std::filesystem::path> groupLeader(const std::vector<std::filesystem::path>& group,
                                                            const std::set<std::string>& extensions,
                                                            const std::vector<std::filesystem::path>& jobSourcePaths);

    // Absolute, with "." and ".." resolved; links are not followed.
    static std::filesystem::path standardized(const std::filesystem::path& path);

    // Whether the pattern is exactly the preset's default one; the normal
    // modes then use fixed names instead of the pattern.
    bool usesDefaultPattern(std::string_view namingPattern) const;

    // The {pot} token: "2048x1024".
    static std::string potToken(std::int64_t width, std::int64_t height);

    // stem + "_Normal" + "GL" or "DX" (of normalTarget), without extension.
    std::string normalMapStem(std::string_view stem) const;

    // base + "_mip" + level + "_" + longer side + ".png".
    static std::string mipmapFileName(std::string_view base, int level, int dimension);

    // The largest sheet side: maxTextureSize when positive, else 8192.
    int spriteSheetLimit() const;
    // spriteRotate, but only for formats that can describe rotated frames.
    bool spriteRotationAllowed() const;

    // The one log line of a full-size sheet set:
    // "Run: 24 frames on 1024x1024 + 1024x512 (2 sheets), 3 duplicate frames reused".
    static std::string sheetLogLine(std::string_view sequence, const image::SpriteSheetCompiler::Atlas& atlas);

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

private:
    using Outputs = std::vector<std::filesystem::path>;

    Outputs packChannels(const batch::BatchItem& item, const batch::ProcessingContext& context) const;
    Outputs convertNormalMap(const batch::BatchItem& item, const batch::ProcessingContext& context) const;
    Outputs normalMapFromHeight(const batch::BatchItem& item, const batch::ProcessingContext& context) const;
    Outputs enforcePowerOfTwo(const batch::BatchItem& item, const batch::ProcessingContext& context) const;
    Outputs compileSpriteSheets(const batch::BatchItem& item, const batch::ProcessingContext& context) const;
    Outputs checkTiling(const batch::BatchItem& item, const batch::ProcessingContext& context) const;

    // A sequence's sheet set as written: its files in order, the frame whose
    // item reports them and the frames the full-size sheet left out.
    struct WrittenSheets {
        Outputs outputs;
        std::filesystem::path owner;
        std::vector<image::SpriteSheetCompiler::LeftOutFrame> leftOut;
    };

    // Packs and writes a sequence's sheet set. Its files belong to the first
    // frame on the full-size sheet that the job holds (the sequence's first
    // readable frame without a job list), and are claimed in that frame's
    // item's name.
    WrittenSheets writeSpriteSheets(const FrameSequence& sequence, const batch::ProcessingContext& context) const;

    // Writes a normal map under the normal modes' naming rule.
    Outputs writeNormalMap(const image::PackedTexture& texture, const std::string& stem,
                           const batch::BatchItem& item, const batch::ProcessingContext& context) const;

    // The pattern name of the item under the mode's tokens (no extension).
    static std::string patternName(const batch::BatchItem& item, const batch::ProcessingContext& context,
                                   const std::map<std::string, std::string>& tokens);
    // The job's source files, empty for a context made by hand.
    static const std::vector<std::filesystem::path>& jobFiles(const batch::ProcessingContext& context);
    static void progress(const batch::ProcessingContext& context, double fraction, std::string message);
    static void log(const batch::ProcessingContext& context, std::string line);
};

} // namespace presets
