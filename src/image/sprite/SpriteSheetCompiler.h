#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/Error.h"
#include "image/picture/Image.h"
#include "image/sprite/RGBAImage.h"
#include "image/sprite/SpriteGeometry.h"
#include "image/texture/TextureOptions.h"

namespace image {

// Packs an ordered list of animation frames onto power-of-two sprite-sheet
// pages: frames are decoded and scaled, transparent borders trimmed, frames
// with identical pixels drawn once, and the distinct ones placed with a
// max-rects packer, the sheet doubling until everything fits or the size
// limit is reached (then spilling onto further pages when allowed).
//
// Holds no state of its own beyond the duplicate hash (a test seam); every
// call is synchronous and self-contained.
class SpriteSheetCompiler {
public:
    using DataFormat = image::DataFormat;

    struct Options {
        bool trim = true;          // cut fully transparent borders
        int padding = 2;           // empty pixels right of and below every frame
        int extrude = 1;           // repeated border pixels around every frame
        int maxSheetSize = 2048;   // limit of a page's width and height
        double scale = 1.0;        // applied to every frame's size first
        bool allowRotation = false; // frames may be stored turned clockwise
        bool operator==(const Options&) const = default;
    };

    // One input frame on the sheet.
    struct Frame {
        std::string name;            // the file's name, extension included
        SpriteRect frame;            // trimmed pixels on the page, size before rotation
        bool rotated = false;        // stored a quarter turn clockwise (covers height x width)
        bool trimmed = false;        // trimmed size differs from sourceSize
        SpriteRect spriteSourceSize; // trimmed area inside the scaled, untrimmed frame
        SpriteSize sourceSize;       // the scaled, untrimmed frame
        bool isDuplicate = false;    // pixels drawn once, for an earlier frame
        bool operator==(const Frame&) const = default;
    };

    // One page. The data-file writers live in SpriteSheetWriters.cpp.
    struct AtlasResult {
        Image image; // 8-bit RGBA, straight alpha, rows from the top
        std::vector<Frame> frames;
        int sheetWidth = 0;
        int sheetHeight = 0;
        int duplicateCount = 0;

        // JSON object keyed by frame name (Phaser, PixiJS). Pretty-printed,
        // keys sorted, "/" not escaped, invalid UTF-8 replaced.
        std::string jsonHash(std::string_view imageName, const std::optional<std::string>& animationName,
                             const std::vector<std::string>& relatedPacks) const;
        // JSON list of frames in page order.
        std::string jsonArray(std::string_view imageName, const std::vector<std::string>& relatedPacks) const;
        // Cocos2d XML property list.
        std::string cocosPlist(std::string_view imageName) const;
        // Unity texture importer that slices the sheet into sprites.
        std::string unityMeta(std::string_view imageName, int pixelsPerUnit) const;
    };

    // A frame file that gave no picture and is on no page.
    struct LeftOutFrame {
        std::string name;     // the file's name, extension included
        std::string reason;   // the reader's text, naming the file ("walk_3.png is not an image")
        bool damaged = false; // a picture cut short or corrupt, rather than none at all
        bool operator==(const LeftOutFrame&) const = default;
    };

    struct Atlas {
        std::vector<AtlasResult> pages;
        // The frames that could not be decoded, in input order. The caller
        // reports them.
        std::vector<LeftOutFrame> undecodableFrames;

        std::size_t frameCount() const;
        int duplicateCount() const;

        // Godot 4 SpriteFrames resource over every page.
        std::string godotSpriteFrames(const std::vector<std::string>& imageNames, std::string_view animationName,
                                      const std::vector<std::string>& order, double fps) const;
    };

    class AtlasError : public core::Error {
    public:
        enum class Kind { sheetTooLarge, frameTooLarge, emptyFrameList, failedToLoadFrames, failedToCreateContext, failedToCreateImage };

        static AtlasError sheetTooLarge(int limit);
        static AtlasError frameTooLarge(std::string_view name, int limit);
        static AtlasError emptyFrameList();
        // "Failed to decode frame images from provided URLs." and, when
        // frames are given, why: ": walk_1.png is not an image; ...".
        static AtlasError failedToLoadFrames(std::vector<LeftOutFrame> frames = {});
        static AtlasError failedToCreateContext();
        static AtlasError failedToCreateImage();

        Kind kind() const { return kind_; }
        std::string errorDescription() const { return what(); }
        // failedToLoadFrames: every frame and why it gave no picture.
        const std::vector<LeftOutFrame>& undecodableFrames() const { return frames_; }

    private:
        AtlasError(Kind kind, const std::string& text, std::vector<LeftOutFrame> frames = {})
            : core::Error(text), kind_(kind), frames_(std::move(frames)) {}
        Kind kind_;
        std::vector<LeftOutFrame> frames_;
    };

    // ---- Page layout: a pure function over the trimmed frame sizes. ----

    struct LayoutFrame {
        std::string_view name;
        int width = 0;  // trimmed size
        int height = 0;
    };
    struct Placement {
        int page = 0;
        SpriteRect rect; // frame pixels (extrusion outside), size before rotation
        bool rotated = false;
        bool operator==(const Placement&) const = default;
    };
    struct SheetLayout {
        std::vector<SpriteSize> pages;        // in creation order
        std::vector<Placement> placements;    // one per input frame, input order
        std::vector<std::size_t> order;       // placing order: longer side first, stable
        std::vector<SpriteSize> attempts;     // every sheet size tried, in order
    };
    // Sorts, checks the size limit and places every frame on as few pages as
    // the growth rule gives. Throws frameTooLarge or sheetTooLarge.
    static SheetLayout layoutPages(std::span<const LayoutFrame> frames, const Options& options, bool allowMultiplePages);

    // ---- Duplicates. ----

    // 64-bit hash over width, height and pixels; pixels with alpha 0 count as
    // (0, 0, 0, 0) whatever their colour bytes.
    using FrameHash = std::function<std::uint64_t(const RGBAImage&)>;
    static std::uint64_t frameHash(const RGBAImage& image);
    // Equal size and equal pixels, alpha-0 pixels equal whatever their colour.
    static bool samePixels(const RGBAImage& a, const RGBAImage& b);
    // For every image, the index of the earlier image it duplicates: a hash
    // match with equal size is confirmed by comparing the pixels.
    static std::vector<std::optional<std::size_t>> findDuplicates(std::span<const RGBAImage> images, const FrameHash& hash);

    SpriteSheetCompiler() = default;
    // Test seam: a compiler whose duplicate detection uses `hash`.
    explicit SpriteSheetCompiler(FrameHash hash) : hash_(std::move(hash)) {}

    Atlas compileAtlas(const std::vector<std::filesystem::path>& frameURLs, const Options& options,
                       bool allowMultiplePages) const;
    // One page only; throws sheetTooLarge when the frames need more.
    AtlasResult compile(const std::vector<std::filesystem::path>& frameURLs, const Options& options) const;

private:
    FrameHash hash_;
};

} // namespace image
