// The correcting half of ArchitecturalStraightener: rotation, perspective
// warp and crop.

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include <opencv2/imgproc.hpp>

#include "image/ArchitecturalStraightener.h"

namespace image {

namespace {

constexpr double kNegligible = 1e-4;

double fullAlpha(int depth) {
    switch (depth) {
    case CV_8U: return 255.0;
    case CV_16U: return 65535.0;
    default: return 1.0;
    }
}

bool isOpaque(const cv::Mat& rgba) {
    cv::Mat alpha;
    cv::extractChannel(rgba, alpha, 3);
    double lowest = 0;
    cv::minMaxLoc(alpha, &lowest);
    return lowest >= fullAlpha(rgba.depth());
}

// Multiplies (or divides) the colour bands of a float RGBA matrix by alpha.
void premultiply(cv::Mat& rgba, bool undo) {
    for (int y = 0; y < rgba.rows; ++y) {
        auto* p = rgba.ptr<cv::Vec4f>(y);
        for (int x = 0; x < rgba.cols; ++x) {
            const float a = p[x][3];
            for (int c = 0; c < 3; ++c) {
                if (!undo)
                    p[x][c] *= a;
                else
                    p[x][c] = a > 1e-6f ? p[x][c] / a : 0.0f;
            }
        }
    }
}

// Runs a geometric warp over RGBA. Transparent pictures are warped
// premultiplied so clear pixels don't bleed their colour; float results are
// kept in 0..1 (cubic sampling overshoots).
cv::Mat warpPixels(const cv::Mat& source, const std::function<void(const cv::Mat&, cv::Mat&)>& warp) {
    cv::Mat result;
    if (isOpaque(source)) {
        warp(source, result);
    } else {
        cv::Mat working;
        source.convertTo(working, CV_32FC4, 1.0 / fullAlpha(source.depth()));
        premultiply(working, false);
        cv::Mat warped;
        warp(working, warped);
        // Colour from the unclamped alpha, so sampling overshoot at an edge
        // doesn't change the hue.
        premultiply(warped, true);
        cv::max(cv::min(warped, cv::Scalar::all(1.0)), cv::Scalar::all(0.0), warped);
        warped.convertTo(result, source.type(), fullAlpha(source.depth()));
        return result;
    }
    if (result.depth() == CV_32F) cv::max(cv::min(result, cv::Scalar::all(1.0)), cv::Scalar::all(0.0), result);
    // Opaque in, opaque out: the warps fill the frame, and the wedges are
    // cleared afterwards.
    const cv::Mat opaque(result.size(), CV_MAKETYPE(result.depth(), 1), cv::Scalar(fullAlpha(result.depth())));
    cv::insertChannel(opaque, result, 3);
    return result;
}

// Rotation about the centre, counter-clockwise for a positive angle,
// enlarged so the rotated picture still fills the whole frame.
cv::Mat rotatedToFill(const cv::Mat& source, double angle) {
    const double longer = std::max(source.cols, source.rows);
    const double shorter = std::min(source.cols, source.rows);
    const double scale = std::abs(std::cos(angle)) + (longer / shorter) * std::abs(std::sin(angle));
    const cv::Point2f centre(static_cast<float>((source.cols - 1) * 0.5), static_cast<float>((source.rows - 1) * 0.5));
    const cv::Mat matrix = cv::getRotationMatrix2D(centre, angle * 180.0 / std::numbers::pi, scale);
    return warpPixels(source, [&](const cv::Mat& in, cv::Mat& out) {
        cv::warpAffine(in, out, matrix, in.size(), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
    });
}

// Scales the alpha of every pixel by how much of it the mapped trapezoid
// covers (its side edges evaluated at the row's centre), so only the wedges
// outside the warped picture turn transparent.
template <typename T>
void clearWedges(cv::Mat& rgba, double mid, double topHalf, double bottomHalf) {
    const int width = rgba.cols;
    for (int y = 0; y < rgba.rows; ++y) {
        const double t = (y + 0.5) / rgba.rows;
        const double half = topHalf + (bottomHalf - topHalf) * t;
        const double left = mid - half;
        const double right = mid + half;
        T* row = rgba.ptr<T>(y);
        for (int x = 0; x < width; ++x) {
            if (x >= left && x + 1 <= right) {
                // Fully inside: skip to the right edge.
                x = std::max(x, static_cast<int>(std::floor(right)) - 1);
                continue;
            }
            const double covered = std::clamp(std::min(x + 1.0, right) - std::max(static_cast<double>(x), left), 0.0, 1.0);
            T& alpha = row[4 * x + 3];
            if constexpr (std::is_floating_point_v<T>)
                alpha = static_cast<T>(alpha * covered);
            else
                alpha = cv::saturate_cast<T>(alpha * covered);
        }
    }
}

// Keeps the top edge where it is when v > 0 and pulls the bottom corners in
// (the reverse for v < 0), then crops to the kept width.
cv::Mat keystoneCorrected(const cv::Mat& source, double v, bool autoCrop) {
    const double width = source.cols;
    const double height = source.rows;
    const double half = width / 2;
    const double mid = width / 2;
    const double g = std::min(1 + v, 1 - v);
    const double topHalf = g * half / (1 - v);
    const double bottomHalf = g * half / (1 + v);

    // Corners in pixel-edge coordinates, moved half a pixel for OpenCV's
    // pixel-centre convention.
    const std::array<cv::Point2f, 4> from{
        cv::Point2f(-0.5f, -0.5f), cv::Point2f(static_cast<float>(width - 0.5), -0.5f),
        cv::Point2f(static_cast<float>(width - 0.5), static_cast<float>(height - 0.5)),
        cv::Point2f(-0.5f, static_cast<float>(height - 0.5))};
    const std::array<cv::Point2f, 4> to{
        cv::Point2f(static_cast<float>(mid - topHalf - 0.5), -0.5f),
        cv::Point2f(static_cast<float>(mid + topHalf - 0.5), -0.5f),
        cv::Point2f(static_cast<float>(mid + bottomHalf - 0.5), static_cast<float>(height - 0.5)),
        cv::Point2f(static_cast<float>(mid - bottomHalf - 0.5), static_cast<float>(height - 0.5))};
    const cv::Mat matrix = cv::getPerspectiveTransform(from.data(), to.data());
    cv::Mat warped = warpPixels(source, [&](const cv::Mat& in, cv::Mat& out) {
        cv::warpPerspective(in, out, matrix, in.size(), cv::INTER_CUBIC, cv::BORDER_REPLICATE);
    });
    switch (warped.depth()) {
    case CV_8U: clearWedges<std::uint8_t>(warped, mid, topHalf, bottomHalf); break;
    case CV_16U: clearWedges<std::uint16_t>(warped, mid, topHalf, bottomHalf); break;
    default: clearWedges<float>(warped, mid, topHalf, bottomHalf); break;
    }

    // Whole pixels inside [mid - keep, mid + keep]: the right edge is taken
    // down from mid + keep, so no column reaches into a wedge.
    const double keep = autoCrop ? std::min(topHalf, bottomHalf) : std::max(topHalf, bottomHalf);
    const int left = static_cast<int>(std::clamp(std::ceil(mid - keep), 0.0, width));
    const int right = static_cast<int>(std::clamp(std::floor(mid + keep), 0.0, width));
    if (right <= left) return warped;
    if (left == 0 && right == source.cols) return warped;
    return warped(cv::Rect(left, 0, right - left, source.rows)).clone();
}

} // namespace

Image ArchitecturalStraightener::straighten(const Image& image, const StraightenParameters& parameters) const {
    const double v = std::isfinite(parameters.verticalKeystoneCorrection) ? parameters.verticalKeystoneCorrection : 0.0;
    const double r = std::isfinite(parameters.rotationAngleRadians) ? parameters.rotationAngleRadians : 0.0;
    const bool roll = std::abs(r) > kNegligible;
    // At |v| >= 1 one edge would shrink to nothing: no warp is possible.
    const bool keystone = std::abs(v) > kNegligible && std::abs(v) < 1.0;
    if (!roll && !keystone) return image;
    if (image.empty() || image.pixels.channels() != 4) return image;

    Image result{image.pixels, image.metadata};
    if (roll) result.pixels = rotatedToFill(result.pixels, r);
    if (keystone) result.pixels = keystoneCorrected(result.pixels, v, parameters.autoCrop);
    return result;
}

} // namespace image
