// The texture preset's sprite-sheet mode: frame sequences, sheet names and
// the sheet sets written on the run of a sequence's first frame.

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <system_error>
#include <utility>

#include <fmt/format.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include "batch/BatchSkip.h"
#include "core/Files.h"
#include "core/Text.h"
#include "presets/ZentrixPreset.h"

namespace presets {

namespace fs = std::filesystem;

namespace {

// A name ending in a run of number characters, split into the text before
// the run and the run's value.
struct SplitName {
    std::string prefix;
    std::int64_t number = 0;
};

bool isNumberCharacter(UChar32 c) {
    const auto type = u_charType(c);
    return type == U_DECIMAL_DIGIT_NUMBER || type == U_LETTER_NUMBER || type == U_OTHER_NUMBER;
}

// Splits the name without extension; nothing when it does not end in number
// characters or the run does not read as a decimal integer (a run with
// non-ASCII digits or too many of them).
std::optional<SplitName> splitName(const std::string& stem) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(stem.data());
    const auto length = static_cast<std::int32_t>(std::min<std::size_t>(stem.size(), INT32_MAX));
    std::int32_t start = length;
    while (start > 0) {
        std::int32_t i = start;
        UChar32 c = 0;
        U8_PREV(bytes, 0, i, c);
        if (c < 0 || !isNumberCharacter(c)) break;
        start = i;
    }
    if (start == length) return std::nullopt;
    const std::string_view run = std::string_view(stem).substr(static_cast<std::size_t>(start));
    SplitName split;
    const auto [end, ec] = std::from_chars(run.data(), run.data() + run.size(), split.number);
    if (ec != std::errc() || end != run.data() + run.size()) return std::nullopt;
    split.prefix = stem.substr(0, static_cast<std::size_t>(start));
    return split;
}

std::string lowerExtension(const fs::path& file) {
    const std::string ext = file.extension().string();
    return ext.empty() ? std::string() : core::toLower(std::string_view(ext).substr(1));
}

// The folder's non-hidden files, by name in byte order; nothing on error.
std::optional<std::vector<fs::path>> listFolder(const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder.empty() ? fs::path(".") : folder, ec);
    if (ec) return std::nullopt;
    std::vector<std::string> names;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return std::nullopt;
        const std::string name = it->path().filename().string();
        if (name.empty() || name.front() == '.') continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        names.push_back(name);
    }
    if (ec) return std::nullopt;
    std::sort(names.begin(), names.end());
    std::vector<fs::path> files;
    files.reserve(names.size());
    for (const auto& name : names) files.push_back(folder / name);
    return files;
}

} // namespace

ZentrixPreset::FrameSequence ZentrixPreset::frameSequence(const fs::path& containing,
                                                         const std::set<std::string>& extensions) {
    const std::string stem = containing.stem().string();
    const auto own = splitName(stem);
    if (!own) return {stem, {containing}};

    const fs::path folder = containing.parent_path();
    std::vector<fs::path> candidates;
    if (auto listing = listFolder(folder)) {
        const std::string extension = lowerExtension(containing);
        if (extensions.count(extension))
            for (auto& file : *listing)
                if (lowerExtension(file) == extension) candidates.push_back(std::move(file));
    } else {
        candidates.push_back(containing);
    }

    std::vector<std::pair<std::int64_t, fs::path>> numbered;
    for (auto& file : candidates) {
        const auto split = splitName(file.stem().string());
        if (split && split->prefix == own->prefix) numbered.emplace_back(split->number, std::move(file));
    }
    std::stable_sort(numbered.begin(), numbered.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });

    FrameSequence sequence;
    std::string name = own->prefix;
    while (!name.empty() && (name.back() == '_' || name.back() == '-' || name.back() == ' ' || name.back() == '.'))
        name.pop_back();
    sequence.name = name.empty() ? "Sprite" : name;
    for (auto& entry : numbered) sequence.frames.push_back(std::move(entry.second));
    if (sequence.frames.empty()) sequence.frames.push_back(containing);
    return sequence;
}

ZentrixPreset::SpriteFileNames ZentrixPreset::spriteFileNames(std::string_view sequence, std::string_view suffix,
                                                              std::size_t pages, image::DataFormat format) {
    std::vector<std::string> bases;
    if (pages > 1) {
        for (std::size_t i = 0; i < pages; ++i) bases.push_back(fmt::format("{}_Atlas-{}{}", sequence, i, suffix));
    } else {
        bases.push_back(fmt::format("{}_Atlas{}", sequence, suffix));
    }
    SpriteFileNames names;
    for (const auto& base : bases) names.images.push_back(base + ".png");
    if (format == image::DataFormat::godot) {
        names.data.push_back(fmt::format("{}_Atlas{}.tres", sequence, suffix));
    } else {
        for (const auto& base : bases) names.data.push_back(base + std::string(image::fileSuffix(format)));
    }
    return names;
}

int ZentrixPreset::spriteSheetLimit() const {
    if (maxTextureSize < 1) return 8192;
    return static_cast<int>(std::min<std::int64_t>(maxTextureSize, std::numeric_limits<int>::max()));
}

bool ZentrixPreset::spriteRotationAllowed() const { return spriteRotate && image::supportsRotation(spriteFormat); }

std::string ZentrixPreset::sheetLogLine(std::string_view sequence, const image::SpriteSheetCompiler::Atlas& atlas) {
    std::vector<std::string> sizes;
    std::size_t rotated = 0;
    for (const auto& page : atlas.pages) {
        sizes.push_back(potToken(page.sheetWidth, page.sheetHeight));
        for (const auto& frame : page.frames)
            if (frame.rotated) ++rotated;
    }
    std::string line = fmt::format("{}: {} frames on {}", sequence, atlas.frameCount(), core::join(sizes, " + "));
    if (atlas.pages.size() >= 2) line += fmt::format(" ({} sheets)", atlas.pages.size());
    if (const int duplicates = atlas.duplicateCount(); duplicates >= 1)
        line += fmt::format(", {} duplicate frames reused", duplicates);
    if (rotated >= 1) line += fmt::format(", {} rotated", rotated);
    return line;
}

namespace {

// The frame whose item reports a sheet set: the first one on the sheet
// that the job holds; the first one on it without a job list or when the
// job holds none of them.
fs::path firstFrameOnSheet(const std::vector<fs::path>& frames,
                           const std::vector<image::SpriteSheetCompiler::LeftOutFrame>& leftOut,
                           const std::set<std::string>& extensions, const std::vector<fs::path>& jobFiles) {
    std::vector<fs::path> onSheet;
    for (const auto& frame : frames) {
        const std::string name = frame.filename().string();
        if (std::none_of(leftOut.begin(), leftOut.end(), [&name](const auto& left) { return left.name == name; }))
            onSheet.push_back(frame);
    }
    return ZentrixPreset::groupLeader(onSheet, extensions, jobFiles).value_or(frames.front());
}

} // namespace

ZentrixPreset::Outputs ZentrixPreset::compileSpriteSheets(const batch::BatchItem& item,
                                                          const batch::ProcessingContext& context) const {
    const FrameSequence sequence = frameSequence(item.sourceURL, supportedExtensions());
    const fs::path leader = groupLeader(sequence.frames, supportedExtensions(), jobFiles(context))
                                .value_or(item.sourceURL);
    const fs::path self = standardized(item.sourceURL);
    const bool leads = standardized(leader) == self;
    const std::string partOfSheet = item.originalFileName + " is part of the " + sequence.name + " sprite sheet";
    // Outside a run no other item can learn the sheet's fate from this one.
    if (!leads && !context.sharedWork) throw batch::BatchSkip(partOfSheet);

    // The set is made once, by whichever frame's item comes first; its files
    // belong to the first frame that is on the sheet, which may not be the
    // leading one when that can't be read. The other frames' items wait for
    // the outcome.
    struct SheetSet {
        WrittenSheets written;      // on failure only leftOut, when no frame gave a picture
        std::exception_ptr failure; // why the set was not (all) written
        bool noFrameRead = false;   // the failure is that no frame gave a picture
    };
    const auto work = context.sharedWork ? context.sharedWork : std::make_shared<batch::SharedWork>();
    const auto set = work->once<SheetSet>("sprite sheet " + standardized(leader).string(), [&] {
        SheetSet made;
        try {
            made.written = writeSpriteSheets(sequence, context);
        } catch (const image::SpriteSheetCompiler::AtlasError& e) {
            made.failure = std::current_exception();
            if (e.kind() == image::SpriteSheetCompiler::AtlasError::Kind::failedToLoadFrames) {
                made.noFrameRead = true;
                made.written.leftOut = e.undecodableFrames();
            }
        } catch (...) {
            made.failure = std::current_exception();
        }
        return made;
    });

    const std::string own = item.sourceURL.filename().string();
    const auto& leftOutFrames = set->written.leftOut;
    const auto leftOut = std::find_if(leftOutFrames.begin(), leftOutFrames.end(),
                                      [&own](const auto& frame) { return frame.name == own; });
    if (set->failure) {
        if (set->noFrameRead && leftOut != leftOutFrames.end()) throw TextureError::unreadableFrame(*leftOut);
        // Every frame fails with the sheet it belongs to.
        std::rethrow_exception(set->failure);
    }
    if (leftOut != leftOutFrames.end()) throw TextureError::leftOutFrame(*leftOut);
    if (standardized(set->written.owner) != self) throw batch::BatchSkip(partOfSheet);
    return set->written.outputs;
}

ZentrixPreset::WrittenSheets ZentrixPreset::writeSpriteSheets(const FrameSequence& sequence,
                                                              const batch::ProcessingContext& context) const {
    const fs::path& folder = context.configuration.outputDirectory;
    progress(context, 0.4, fmt::format("Packing {} frames...", sequence.frames.size()));
    struct Pass {
        std::string suffix;
        double scale;
        bool fullSize;
    };
    std::vector<Pass> passes{{"", 1.0, true}};
    if (spriteHalfScale) passes.push_back({"@1x", 0.5, false});

    std::vector<std::string> order;
    for (const auto& frame : sequence.frames) order.push_back(frame.filename().string());

    const auto clampedOption = [](std::int64_t value) {
        return static_cast<int>(std::clamp<std::int64_t>(value, 0, std::numeric_limits<int>::max()));
    };
    WrittenSheets written;
    Outputs& outputs = written.outputs;
    batch::OutputClaimant claimant = context.claimant;
    const image::SpriteSheetCompiler compiler;
    for (const auto& [suffix, scale, fullSize] : passes) {
        image::SpriteSheetCompiler::Options options;
        options.trim = spriteTrim;
        options.padding = clampedOption(spritePadding);
        options.extrude = clampedOption(spriteExtrude);
        options.maxSheetSize = spriteSheetLimit();
        options.scale = scale;
        options.allowRotation = spriteRotationAllowed();
        const auto atlas = compiler.compileAtlas(sequence.frames, options, true);
        if (fullSize) {
            written.leftOut = atlas.undecodableFrames;
            written.owner = firstFrameOnSheet(sequence.frames, written.leftOut, supportedExtensions(),
                                              jobFiles(context));
            claimant = context.claimant.forSource(written.owner);
        }
        const auto names = spriteFileNames(sequence.name, suffix, atlas.pages.size(), spriteFormat);
        // The pass's sheets and data files, all claimed before any is
        // written, so they always come from one item. Their names come from
        // the sequence, not from the naming pattern.
        std::vector<fs::path> claimed;
        for (const auto& name : names.images) claimed.push_back(folder / name);
        for (const auto& name : names.data) claimed.push_back(folder / name);
        claimant.claim(claimed, batch::OutputClaims::Naming::fixed);
        for (std::size_t j = 0; j < atlas.pages.size(); ++j) {
            const auto& page = atlas.pages[j];
            outputs.push_back(folder / names.images[j]);
            image::PackedTexture::writePNG(page.image, outputs.back());
            if (spriteFormat == image::DataFormat::godot) continue;

            std::vector<std::string> related;
            if (j == 0) related.assign(names.images.begin() + 1, names.images.end());
            std::string text;
            switch (spriteFormat) {
            case image::DataFormat::jsonHash:
                text = page.jsonHash(names.images[j],
                                     atlas.pages.size() == 1 ? std::optional<std::string>(sequence.name)
                                                             : std::nullopt,
                                     related);
                break;
            case image::DataFormat::jsonArray: text = page.jsonArray(names.images[j], related); break;
            case image::DataFormat::cocos: text = page.cocosPlist(names.images[j]); break;
            case image::DataFormat::unity: text = page.unityMeta(names.images[j], 100); break;
            case image::DataFormat::godot: break;
            }
            outputs.push_back(folder / names.data[j]);
            core::writeFileAtomically(outputs.back(), text);
        }
        if (spriteFormat == image::DataFormat::godot) {
            outputs.push_back(folder / names.data.front());
            core::writeFileAtomically(outputs.back(), atlas.godotSpriteFrames(names.images, sequence.name, order, 12));
        }
        if (fullSize) {
            for (const auto& frame : atlas.undecodableFrames)
                log(context, sequence.name + ": could not read the frame " + frame.name + ", left it out");
            log(context, sheetLogLine(sequence.name, atlas));
        }
    }
    return written;
}

} // namespace presets
