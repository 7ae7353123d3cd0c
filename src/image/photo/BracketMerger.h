#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "core/Dates.h"
#include "core/EnumTable.h"
#include "core/Error.h"
#include "image/picture/Image.h"

namespace image {

// Exposure brackets: finding which photos of a folder were shot as one
// bracket (from their capture metadata alone), and fusing a bracket into one
// well-exposed photo (Laplacian-pyramid exposure fusion in 32-bit floats).
// Grouping is safe from any number of threads; fusions are meant to run
// inside MergeGate::shared().run so that only one is in progress at a time.
class BracketMerger {
public:
    // The capture facts of one photo.
    struct Shot {
        std::filesystem::path url;
        std::optional<core::Date> time;      // DateTimeOriginal (local time) + sub-seconds
        std::optional<double> exposureValue; // EV at ISO 100, in stops
        double exposureTime = 0;             // seconds; 0 when the photo states none
        int width = 0;                       // as stored, before orientation
        int height = 0;
        bool operator==(const Shot&) const = default;
    };

    class MergeError : public core::Error {
    public:
        enum class Case { noImages, tooSmall, sizeMismatch, renderFailed };
        static MergeError noImages() { return MergeError(Case::noImages); }
        static MergeError tooSmall() { return MergeError(Case::tooSmall); }
        static MergeError sizeMismatch() { return MergeError(Case::sizeMismatch); }
        static MergeError renderFailed() { return MergeError(Case::renderFailed); }
        Case kind() const { return kind_; }
        std::string errorDescription() const { return what(); }
        static std::string_view description(Case c) { return kTexts.displayName(c); }

    private:
        static constexpr core::EnumTable<Case, 4> kTexts{{{
            {Case::noImages, "noImages", "No photos to merge."},
            {Case::tooSmall, "tooSmall", "The photos are too small to merge."},
            {Case::sizeMismatch, "sizeMismatch", "The bracketed photos aren't all the same size."},
            {Case::renderFailed, "renderFailed", "Could not render the merged photo."},
        }}};
        explicit MergeError(Case c) : core::Error(std::string(kTexts.displayName(c))), kind_(c) {}
        Case kind_;
    };

    // A whole-pixel shift in our row order: +x to the right, +y downwards.
    struct Translation {
        int x = 0;
        int y = 0;
        bool operator==(const Translation&) const = default;
    };

    // One frame of a bracket before it is decoded: its size as it will be
    // rendered (upright), known from the file's header, and how to render it
    // (8-bit RGBA, sRGB, rows from the top, exactly width x height). Fusion
    // checks every size before it renders any frame, and renders one frame at
    // a time, so a merge waiting at the gate holds no pixels.
    struct FrameSource {
        int width = 0;
        int height = 0;
        std::function<cv::Mat()> render;

        // A photo file: size from its header and orientation; decoded upright
        // in sRGB through the shared pipeline when rendered. An unreadable
        // header gives a 0 x 0 source (the fusion then refuses it by size).
        static FrameSource file(const std::filesystem::path& path);
        // Pixels already in memory (CV_8UC4/16UC4/32FC4 RGBA, or 8-bit
        // 1/3-channel); kept until rendered.
        static FrameSource picture(cv::Mat pixels);
    };

    // ---- Grouping -------------------------------------------------------

    // The bracket holding `photo` among the accepted files of its folder, in
    // bracket order, or just `photo` when it belongs to none. Never fails.
    static std::vector<std::filesystem::path> brackets(const std::filesystem::path& photo,
                                                       const std::set<std::string>& extensions);
    // Reads a photo's capture facts (metadata only, no pixels).
    static std::optional<Shot> shot(const std::filesystem::path& url);
    // Splits shots into brackets (2 to 9 photos of one size, one burst, no two
    // within 0.3 stops, spanning at least 0.9 stops).
    static std::vector<std::vector<std::filesystem::path>> group(const std::vector<Shot>& shots);

    // ---- Fusion ---------------------------------------------------------

    // Fuses the frames (the first is the reference) into one opaque 8-bit
    // RGBA image of the first frame's size (alpha 255, no metadata). With
    // `align`, each later frame is first shifted onto the first by a whole
    // pixel translation when one is found. Throws MergeError.
    Image fuse(const std::vector<FrameSource>& frames, bool align) const;

    // The whole-pixel translation that moves `frame` onto `reference` (both
    // 8-bit RGBA of one size), or nothing when the shift is below half a
    // pixel, beyond 3 % of the longer side, or can't be measured.
    static std::optional<Translation> alignment(const cv::Mat& frame, const cv::Mat& reference);

    // One pyramid level down: (w + 1) / 2 x (h + 1) / 2, 5-tap binomial
    // filter, edges clamped.
    static std::vector<float> reduce(const std::vector<float>& plane, int width, int height);
    // One pyramid level up, to toWidth x toHeight (2w or 2w - 1, and the same
    // for heights).
    static std::vector<float> expand(const std::vector<float>& plane, int width, int height,
                                     int toWidth, int toHeight);
    // Number of pyramid levels for a bracket of width x height (1 to 10).
    static int pyramidDepth(int width, int height);
};

} // namespace image
