// The real-estate preset at work: one photo (or the bracket it leads) into a
// full-resolution print copy and a cropped, size-capped web copy.

#include <cmath>
#include <limits>
#include <numbers>

#include <fmt/format.h>

#include "batch/BatchSkip.h"
#include "batch/TokenRenamer.h"
#include "core/Files.h"
#include "image/photo/BracketMerger.h"
#include "image/picture/EXIFStripper.h"
#include "image/picture/ImageCodecs.h"
#include "image/picture/Resampler.h"
#include "image/photo/MergeGate.h"
#include "presets/HalvanePreset.h"

namespace presets {

namespace fs = std::filesystem;

namespace {

// Half away from zero, for values already known to be finite and small.
int roundedPixels(double value) { return static_cast<int>(std::round(value)); }

template <typename Data, typename Key, typename Match>
void eraseWhere(Data& data, Match match) {
    for (auto it = data.begin(); it != data.end();) {
        if (match(it->key()))
            it = data.erase(it);
        else
            ++it;
    }
}

void progress(const batch::ProcessingContext& context, double fraction, std::string message) {
    if (context.onProgressUpdate) context.onProgressUpdate(fraction, std::move(message));
}

void log(const batch::ProcessingContext& context, std::string line) {
    if (context.log) context.log(std::move(line));
}

// A photo (or the watermark) loaded upright; a file that gives none fails
// with `fail`'s text and the reason, or, damaged or too large for the
// memory, with the engine's own text.
template <typename Fail>
image::Image loadPicture(const image::CoreImagePipeline& pipeline, const fs::path& file, Fail fail) {
    try {
        return pipeline.loadImageOrFail(file);
    } catch (const image::ImageReadError& e) {
        if (e.standsAlone()) throw;
        throw fail(file, e.reason());
    }
}

image::Image loadPhoto(const image::CoreImagePipeline& pipeline, const fs::path& file) {
    return loadPicture(pipeline, file, [](const fs::path& f, const std::string& reason) {
        return HalvanePreset::PresetError::cannotDecodeImage(f, reason);
    });
}

// The bracket's frames fused (inside the merge gate), carrying the middle
// exposure's metadata.
image::Image mergeBracket(const std::vector<fs::path>& bracket, const image::CoreImagePipeline& pipeline) {
    std::vector<image::BracketMerger::FrameSource> frames;
    frames.reserve(bracket.size());
    for (const auto& file : bracket) {
        // Frames are rendered one at a time inside the gate; a file that
        // can't be read is refused here, by name, before the wait.
        auto frame = image::BracketMerger::FrameSource::file(file);
        if (frame.width <= 0 || frame.height <= 0) throw HalvanePreset::PresetError::cannotDecodeImage(file);
        frames.push_back(std::move(frame));
    }
    const fs::path& middle = bracket[bracket.size() / 2];
    image::ImageMetadata properties = loadPhoto(pipeline, middle).metadata;

    image::Image fused = image::MergeGate::shared().run([&frames] {
        return image::BracketMerger().fuse(frames, /*align=*/true);
    });
    fused.metadata = std::move(properties);
    return fused;
}

} // namespace

std::string_view HalvanePreset::sizeToken(OutputSet set) { return set == OutputSet::print ? "Print" : "Web"; }

std::string HalvanePreset::folderName(OutputSet set) const {
    if (set == OutputSet::print) return std::string(kPrintFolderName);
    return std::string(presets::folderName(portal_));
}

std::string HalvanePreset::outputFileName(OutputSet set, const batch::BatchItem& item, std::string_view pattern,
                                          std::int64_t index, std::int64_t total) const {
    const std::map<std::string, std::string> tokens{{"address", propertyAddress},
                                                    {"size", std::string(sizeToken(set))}};
    return batch::TokenRenamer().resolve(pattern, item, index, total, tokens) + ".jpg";
}

fs::path HalvanePreset::bracketLeader(const std::vector<fs::path>& bracket, const std::vector<fs::path>& jobSourcePaths) {
    if (bracket.empty()) return {};
    std::vector<fs::path> job;
    job.reserve(jobSourcePaths.size());
    for (const auto& path : jobSourcePaths) job.push_back(core::standardized(path));
    for (const auto& file : bracket) {
        const fs::path s = core::standardized(file);
        for (const auto& j : job)
            if (j == s) return file;
    }
    return bracket.front();
}

std::string HalvanePreset::bracketSkipReason(std::string_view originalFileName, const fs::path& leader) {
    return fmt::format("{} is merged into {}'s bracket", originalFileName, leader.filename().string());
}

std::string HalvanePreset::mergeLogLine(std::string_view originalFileName, const std::vector<fs::path>& bracket) {
    std::string names;
    for (const auto& file : bracket) {
        if (!names.empty()) names += ", ";
        names += file.filename().string();
    }
    return fmt::format("{}: merged {} exposures ({})", originalFileName, bracket.size(), names);
}

std::string HalvanePreset::straightenLogLine(std::string_view originalFileName,
                                             const image::ArchitecturalStraightener::StraightenParameters& p) {
    if (std::abs(p.verticalKeystoneCorrection) < 0.0001 && std::abs(p.rotationAngleRadians) < 0.0001)
        return fmt::format("{}: verticals already straight ({} lines checked)", originalFileName, p.linesDetected);
    const double rollDegrees = p.rotationAngleRadians * -180.0 / std::numbers::pi;
    const double keystonePercent = p.verticalKeystoneCorrection * 100.0;
    return fmt::format("{}: corrected {:.2f}\u00b0 roll, {:.1f}% keystone ({} lines)", originalFileName, rollDegrees,
                       keystonePercent, p.linesDetected);
}

std::string HalvanePreset::webProgressMessage(std::int64_t maxKB) {
    return fmt::format("Optimizing Web MLS Package (< {}MB)...", maxKB / 1000);
}

image::WatermarkRenderer::WatermarkOptions HalvanePreset::watermarkOptions(double opacity) {
    return {opacity, 0.18, 0.03, image::WatermarkRenderer::WatermarkPosition::bottomRight};
}

std::optional<HalvanePreset::CropRect> HalvanePreset::cropRect(int width, int height, WebAspect aspect) {
    const auto r = ratio(aspect);
    if (!r || width <= 0 || height <= 0) return std::nullopt;
    // Portrait and square photos are never cropped.
    if (height >= width) return std::nullopt;
    const double w = width;
    const double h = height;
    double cropWidth = w;
    double cropHeight = h;
    if (w / h > *r)
        cropWidth = std::round(*r * h);
    else
        cropHeight = std::round(w / *r);
    if (std::abs(cropWidth - w) < 1 && std::abs(cropHeight - h) < 1) return std::nullopt;
    // Centred; the vertical offset is rounded from the bottom edge up, as the
    // picture's y-up geometry has it, then turned into rows from the top.
    const int x = roundedPixels((w - cropWidth) / 2);
    const int fromBottom = roundedPixels((h - cropHeight) / 2);
    const int cw = static_cast<int>(cropWidth);
    const int ch = static_cast<int>(cropHeight);
    return CropRect{x, height - ch - fromBottom, cw, ch};
}

image::Image HalvanePreset::cropped(const image::Image& image, WebAspect aspect) {
    const auto rect = cropRect(image.width(), image.height(), aspect);
    if (!rect) return image;
    return image::Image{image.pixels(cv::Rect(rect->x, rect->y, rect->width, rect->height)).clone(), image.metadata};
}

image::ImageMetadata HalvanePreset::withoutGPS(image::ImageMetadata properties) {
    eraseWhere<Exiv2::ExifData, Exiv2::ExifKey>(properties.exif, [](const std::string& key) {
        return key.rfind("Exif.GPSInfo.", 0) == 0 || key == "Exif.Image.GPSTag";
    });
    eraseWhere<Exiv2::XmpData, Exiv2::XmpKey>(properties.xmp, [](const std::string& key) {
        return key.rfind("Xmp.exif.GPS", 0) == 0 || key.rfind("Xmp.exifEX.GPS", 0) == 0;
    });
    return properties;
}

std::vector<std::uint8_t> HalvanePreset::encodeUnderSizeCap(const image::Image& image,
                                                            const image::ImageMetadata& properties,
                                                            const image::CoreImagePipeline& pipeline,
                                                            std::vector<WebEncoding>* tried) const {
    // KB of 1024 bytes; a cap past what a size can hold is no cap.
    constexpr auto kLargest = std::numeric_limits<std::int64_t>::max() / 1024;
    const std::int64_t capKB = std::clamp<std::int64_t>(maxWebFileSizeKB, 0, kLargest);
    const auto cap = static_cast<std::uint64_t>(capKB) * 1024u;
    double dimension = maxWebDimension;
    int lastWidth = -1;
    int lastHeight = -1;
    for (int pass = 0; pass < kWebPasses; ++pass, dimension *= kWebShrinkPerPass) {
        const image::Image scaled = pipeline.scaledToFit(image, dimension);
        // The same size as the pass before: its encodings would repeat
        // ones that were already too large.
        if (scaled.width() == lastWidth && scaled.height() == lastHeight) continue;
        lastWidth = scaled.width();
        lastHeight = scaled.height();
        for (double quality : kWebQualities) {
            auto data = pipeline.jpegData(scaled, quality, &properties);
            if (!data) throw PresetError::encodingFailed();
            if (tried) tried->push_back({scaled.width(), scaled.height(), quality, data->size()});
            if (data->size() <= cap) return std::move(*data);
        }
    }
    throw PresetError::cannotMeetSizeLimit(maxWebFileSizeKB);
}

core::SweepResult HalvanePreset::sweepLeftovers() { return core::sweepLeftovers(kWorkFolderPrefix); }

std::vector<fs::path> HalvanePreset::process(const batch::BatchItem& item,
                                             const batch::ProcessingContext& context) const try {
    const std::string& name = item.originalFileName;
    // The set folders this photo is written into; a run killed mid-write
    // leaves its temporary file there for the next start to sweep.
    std::vector<fs::path> setFolders;
    if (exportPrintPackage) setFolders.push_back(context.configuration.outputDirectory / folderName(OutputSet::print));
    if (exportWebPackage) setFolders.push_back(context.configuration.outputDirectory / folderName(OutputSet::web));
    const core::SweepRecord sweepRecord(kWorkFolderPrefix, name, setFolders, context.log);
    const image::ItemRunning running; // shares the cores with the items beside it
    const auto& pipeline = image::CoreImagePipeline::shared();

    // 1. The photo and the properties to write.
    image::Image current = loadPhoto(pipeline, item.sourceURL);

    // 2. Brackets: merged by the first of their photos that is in the job.
    if (mergeBrackets) {
        const auto bracket = image::BracketMerger::brackets(item.sourceURL, supportedExtensions());
        if (bracket.size() >= 2) {
            static const std::vector<fs::path> kNoJob;
            const auto& job = context.jobSourcePaths ? *context.jobSourcePaths : kNoJob;
            const fs::path leader = bracketLeader(bracket, job);
            if (core::standardized(leader) != core::standardized(item.sourceURL))
                throw batch::BatchSkip(bracketSkipReason(name, leader));
            progress(context, 0.05, fmt::format("Merging {} exposures...", bracket.size()));
            current = image::Image{};
            current = mergeBracket(bracket, pipeline);
            log(context, mergeLogLine(name, bracket));
        }
    }

    // 3, 4. Verticals.
    progress(context, 0.15, "Analyzing architectural lines...");
    if (autoStraightenVerticals) {
        const image::ArchitecturalStraightener straightener;
        const auto parameters = straightener.analyze(current);
        current = straightener.straighten(current, parameters);
        log(context, straightenLogLine(name, parameters));
    }

    // 5. The logo, stamped on each output at that output's own size (after
    // the web crop, so the crop never cuts it off).
    std::optional<image::Image> logo;
    if (watermarkURL) {
        logo = loadPicture(pipeline, *watermarkURL, [](const fs::path& f, const std::string& reason) {
            return PresetError::cannotDecodeWatermark(f, reason);
        });
        progress(context, 0.35, "Applying watermark...");
    }
    const image::WatermarkRenderer renderer;
    const auto stamped = [&](const image::Image& picture) {
        return logo ? renderer.applyWatermark(picture, *logo, watermarkOptions(watermarkOpacity)) : picture;
    };
    const image::ImageMetadata properties = stripGPSMetadata ? withoutGPS(current.metadata) : current.metadata;
    const image::EXIFStripper stripper;
    const fs::path& output = context.configuration.outputDirectory;
    const std::string& pattern = context.configuration.namingPattern;

    std::vector<fs::path> written;

    // 6. Print set.
    if (exportPrintPackage) {
        progress(context, 0.55, "Rendering Full-Res Print Package...");
        const fs::path folder = output / folderName(OutputSet::print);
        core::createFolders(folder);
        const fs::path file =
            folder / outputFileName(OutputSet::print, item, pattern, context.itemIndex, context.totalItems);
        context.claimant.claim({file});
        pipeline.write(stamped(current), file, 0.98, &properties);
        if (stripGPSMetadata) stripper.stripMetadata(file, file, image::EXIFStripper::StripOption::stripGPSOnly, 0.92);
        written.push_back(file);
    }

    // 7. Web set.
    if (exportWebPackage) {
        progress(context, 0.8, webProgressMessage(maxWebFileSizeKB));
        const fs::path folder = output / folderName(OutputSet::web);
        core::createFolders(folder);
        const fs::path file =
            folder / outputFileName(OutputSet::web, item, pattern, context.itemIndex, context.totalItems);
        context.claimant.claim({file});
        const image::Image web = stamped(cropped(current, webAspect));
        current = image::Image{}; // the full picture is no longer needed
        const auto bytes = encodeUnderSizeCap(web, properties, pipeline);
        core::writeFileAtomically(file, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        if (stripGPSMetadata)
            stripper.stripMetadata(file, file, image::EXIFStripper::StripOption::stripAllExifExceptOrientation, 0.92);
        written.push_back(file);
    }

    // 8.
    progress(context, 1.0, fmt::format("Exported {} package variations.", written.size()));
    return written;
} catch (...) {
    // A library's own words for a shortage of memory say nothing to a user.
    image::rethrowNamingMemory(item.sourceURL);
}

} // namespace presets
