#include "image/sprite/SpriteSheetCompiler.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include <fmt/format.h>
#include <opencv2/core.hpp>

#include "core/Text.h"
#include "image/picture/ImageCodecs.h"

namespace image {

// ---- Errors ----

using AtlasError = SpriteSheetCompiler::AtlasError;

AtlasError AtlasError::sheetTooLarge(int limit) {
    return {Kind::sheetTooLarge,
            fmt::format("The frames don't fit on a {}x{} sheet. Split the sequence or scale it down.", limit, limit)};
}
AtlasError AtlasError::frameTooLarge(std::string_view name, int limit) {
    return {Kind::frameTooLarge, fmt::format("{} is larger than the {}x{} sheet limit.", name, limit, limit)};
}
AtlasError AtlasError::emptyFrameList() {
    return {Kind::emptyFrameList, "No animation frames provided for sprite-sheet compilation."};
}
AtlasError AtlasError::failedToLoadFrames(std::vector<LeftOutFrame> frames) {
    if (frames.empty()) return {Kind::failedToLoadFrames, "Failed to decode frame images from provided URLs."};
    std::vector<std::string> reasons;
    for (const auto& frame : frames) reasons.push_back(frame.reason);
    return {Kind::failedToLoadFrames,
            fmt::format("Failed to decode frame images from provided URLs: {}", core::join(reasons, "; ")),
            std::move(frames)};
}
AtlasError AtlasError::failedToCreateContext() {
    return {Kind::failedToCreateContext, "Unable to create graphics bitmap context for atlas."};
}
AtlasError AtlasError::failedToCreateImage() {
    return {Kind::failedToCreateImage, "Failed to render final sprite sheet image."};
}

// ---- Atlas ----

std::size_t SpriteSheetCompiler::Atlas::frameCount() const {
    std::size_t n = 0;
    for (const auto& page : pages) n += page.frames.size();
    return n;
}

int SpriteSheetCompiler::Atlas::duplicateCount() const {
    int n = 0;
    for (const auto& page : pages) n += page.duplicateCount;
    return n;
}

// ---- Duplicates ----

namespace {

inline std::uint32_t pixelWord(const std::uint8_t* px) {
    if (px[3] == 0) return 0; // fully transparent: colour bytes don't matter
    std::uint32_t v;
    std::memcpy(&v, px, 4);
    return v;
}

inline std::uint64_t mix(std::uint64_t h, std::uint64_t v) {
    h ^= v * 0x9E3779B97F4A7C15ULL;
    h = (h << 31) | (h >> 33);
    return h * 0xBF58476D1CE4E5B9ULL;
}

} // namespace

std::uint64_t SpriteSheetCompiler::frameHash(const RGBAImage& image) {
    std::uint64_t h = 0x243F6A8885A308D3ULL;
    h = mix(h, static_cast<std::uint64_t>(static_cast<std::uint32_t>(image.width)) << 32 |
                   static_cast<std::uint32_t>(image.height));
    const std::size_t count = image.pixels.size() / 4;
    const std::uint8_t* px = image.pixels.data();
    std::size_t i = 0;
    for (; i + 1 < count; i += 2)
        h = mix(h, std::uint64_t{pixelWord(px + 4 * i)} << 32 | pixelWord(px + 4 * i + 4));
    if (i < count) h = mix(h, pixelWord(px + 4 * i));
    // Final avalanche (splitmix64).
    h ^= h >> 30;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 27;
    h *= 0x94D049BB133111EBULL;
    return h ^ (h >> 31);
}

bool SpriteSheetCompiler::samePixels(const RGBAImage& a, const RGBAImage& b) {
    if (a.width != b.width || a.height != b.height || a.pixels.size() != b.pixels.size()) return false;
    const std::size_t count = a.pixels.size() / 4;
    for (std::size_t i = 0; i < count; ++i)
        if (pixelWord(a.pixels.data() + 4 * i) != pixelWord(b.pixels.data() + 4 * i)) return false;
    return true;
}

std::vector<std::optional<std::size_t>> SpriteSheetCompiler::findDuplicates(std::span<const RGBAImage> images,
                                                                            const FrameHash& hash) {
    std::vector<std::optional<std::size_t>> duplicateOf(images.size());
    // Hash to the distinct frames with that hash (more than one only when the
    // hash collides).
    std::unordered_map<std::uint64_t, std::vector<std::size_t>> seen;
    for (std::size_t i = 0; i < images.size(); ++i) {
        auto& bucket = seen[hash ? hash(images[i]) : frameHash(images[i])];
        for (std::size_t j : bucket)
            if (samePixels(images[j], images[i])) {
                duplicateOf[i] = j;
                break;
            }
        if (!duplicateOf[i]) bucket.push_back(i);
    }
    return duplicateOf;
}

// ---- Compilation ----

namespace {

struct Prepared {
    std::string name;
    SpriteSize sourceSize;
    SpriteRect trimRect;
};

// A frame as the sheet uses it: decoded as stored and scaled. A file that
// gives no picture, whether it is none or a damaged one, gives nothing, with
// `leftOut` saying why; running out of memory is no fault of the frame and
// throws.
std::optional<RGBAImage> decodeFrame(const std::filesystem::path& url, double scale,
                                     SpriteSheetCompiler::LeftOutFrame& leftOut) {
    DecodeOptions decode;
    decode.upright = false; // frames are used as stored
    decode.readMetadata = false;
    try {
        return RGBAImage::make(loadImageFile(url, decode), scale);
    } catch (const ImageReadError& e) {
        if (e.kind() == ImageReadError::Kind::outOfMemory) throw;
        leftOut.reason = e.what();
        leftOut.damaged = e.kind() == ImageReadError::Kind::damaged;
        return std::nullopt;
    }
}

// Copies the frame into the page and fills the ring of `extrude` pixels
// around it with its repeated edge pixels. The frame's own rectangle holds
// exactly its pixels.
void drawFrame(cv::Mat& page, const RGBAImage& pixels, int x, int y, int extrude) {
    cv::Mat frame = pixels.toMat();
    cv::Mat block = frame;
    if (extrude > 0) cv::copyMakeBorder(frame, block, extrude, extrude, extrude, extrude, cv::BORDER_REPLICATE);
    const cv::Rect target(x - extrude, y - extrude, block.cols, block.rows);
    const cv::Rect inside = target & cv::Rect(0, 0, page.cols, page.rows);
    if (inside.empty()) return;
    block(cv::Rect(inside.x - target.x, inside.y - target.y, inside.width, inside.height)).copyTo(page(inside));
}

} // namespace

SpriteSheetCompiler::Atlas SpriteSheetCompiler::compileAtlas(const std::vector<std::filesystem::path>& frameURLs,
                                                             const Options& options, bool allowMultiplePages) const {
    if (frameURLs.empty()) throw AtlasError::emptyFrameList();

    Atlas atlas;
    std::vector<Prepared> prepared;
    std::vector<RGBAImage> pixels;
    for (const auto& url : frameURLs) {
        std::string name = url.filename().string();
        LeftOutFrame leftOut{name, name + " is not an image", false};
        std::optional<RGBAImage> image = decodeFrame(url, options.scale, leftOut);
        if (!image) {
            atlas.undecodableFrames.push_back(std::move(leftOut));
            continue;
        }
        Prepared p{std::move(name), {image->width, image->height}, {0, 0, image->width, image->height}};
        if (options.trim) {
            p.trimRect = image->opaqueBounds().value_or(SpriteRect{0, 0, 1, 1});
            if (p.trimRect != SpriteRect{0, 0, image->width, image->height}) *image = image->cropped(p.trimRect);
        }
        prepared.push_back(std::move(p));
        pixels.push_back(std::move(*image));
    }
    if (prepared.empty()) throw AtlasError::failedToLoadFrames(std::move(atlas.undecodableFrames));

    const auto duplicateOf = findDuplicates(pixels, hash_);

    // Lay out the distinct frames.
    std::vector<std::size_t> distinct;          // prepared indices
    std::vector<std::size_t> slot(prepared.size()); // prepared index -> position in distinct
    std::vector<LayoutFrame> layoutFrames;
    for (std::size_t i = 0; i < prepared.size(); ++i) {
        if (duplicateOf[i]) continue;
        slot[i] = distinct.size();
        distinct.push_back(i);
        layoutFrames.push_back({prepared[i].name, pixels[i].width, pixels[i].height});
    }
    for (std::size_t i = 0; i < prepared.size(); ++i)
        if (duplicateOf[i]) slot[i] = slot[*duplicateOf[i]];
    const SheetLayout layout = layoutPages(layoutFrames, options, allowMultiplePages);
    const int e = std::max(options.extrude, 0);

    for (std::size_t pageIndex = 0; pageIndex < layout.pages.size(); ++pageIndex) {
        const SpriteSize size = layout.pages[pageIndex];
        if (size.width <= 0 || size.height <= 0 || std::int64_t{size.width} * size.height > kMaxImagePixels)
            throw AtlasError::failedToCreateContext();
        AtlasResult page;
        page.sheetWidth = size.width;
        page.sheetHeight = size.height;
        cv::Mat sheet;
        try {
            sheet = cv::Mat::zeros(size.height, size.width, CV_8UC4);
        } catch (const cv::Exception&) {
            throw AtlasError::failedToCreateContext();
        }
        for (std::size_t k : layout.order) {
            const Placement& placement = layout.placements[k];
            if (placement.page != static_cast<int>(pageIndex)) continue;
            const RGBAImage& frame = pixels[distinct[k]];
            if (placement.rotated)
                drawFrame(sheet, frame.rotatedClockwise(), placement.rect.x, placement.rect.y, e);
            else
                drawFrame(sheet, frame, placement.rect.x, placement.rect.y, e);
        }
        page.image.pixels = std::move(sheet);
        for (std::size_t i = 0; i < prepared.size(); ++i) {
            const Placement& placement = layout.placements[slot[i]];
            if (placement.page != static_cast<int>(pageIndex)) continue;
            const Prepared& p = prepared[i];
            Frame f;
            f.name = p.name;
            f.frame = placement.rect;
            f.rotated = placement.rotated;
            f.trimmed = p.trimRect.width != p.sourceSize.width || p.trimRect.height != p.sourceSize.height;
            f.spriteSourceSize = p.trimRect;
            f.sourceSize = p.sourceSize;
            f.isDuplicate = duplicateOf[i].has_value();
            if (f.isDuplicate) ++page.duplicateCount;
            page.frames.push_back(std::move(f));
        }
        atlas.pages.push_back(std::move(page));
    }
    return atlas;
}

SpriteSheetCompiler::AtlasResult SpriteSheetCompiler::compile(const std::vector<std::filesystem::path>& frameURLs,
                                                              const Options& options) const {
    Atlas atlas = compileAtlas(frameURLs, options, false);
    return std::move(atlas.pages.front());
}

} // namespace image
