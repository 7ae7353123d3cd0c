// The correcting half of ArchitecturalStraightener: the roll, the keystone
// and the crop composed into one transform, applied in one bicubic pass that
// writes straight into the result, tile by tile on OpenCV's workers.

#include <sys/mman.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <numbers>
#include <optional>

#include <opencv2/core.hpp>
#include <opencv2/core/hal/intrin.hpp>
#include <opencv2/imgproc.hpp>

#include "image/photo/ArchitecturalStraightener.h"
#include "image/picture/Resampler.h"

namespace image {

namespace {

constexpr double kNegligible = 1e-4;
// A tile of the result is warped and finished while it is in cache, and the
// part of the source it reads stays small enough to premultiply on the side.
constexpr int kTileRows = 64;
constexpr int kTileColumns = 256;
// Bicubic sampling reads two pixels either side of a position; one more
// covers rounding.
constexpr int kReach = 3;

double fullAlpha(int depth) {
    switch (depth) {
    case CV_8U: return 255.0;
    case CV_16U: return 65535.0;
    default: return 1.0;
    }
}

// The picture's side edges after the keystone correction, in the uncropped
// frame: half widths around `mid` from `topHalf` on the top edge to
// `bottomHalf` on the bottom one.
struct Trapezoid {
    double mid = 0;
    double topHalf = 0;
    double bottomHalf = 0;
};

// The whole correction as one map from the result back to the source.
struct Plan {
    cv::Matx33d toSource;   // result pixel centre -> source pixel centre
    bool projective = false;
    cv::Size size;          // the result's size
    int left = 0;           // the result's first column in the uncropped frame
    int frameRows = 0;
    std::optional<Trapezoid> keystone;
};

cv::Matx33d homogeneous(const cv::Mat& matrix) {
    cv::Matx33d m = cv::Matx33d::eye();
    for (int r = 0; r < matrix.rows; ++r)
        for (int c = 0; c < 3; ++c) m(r, c) = matrix.at<double>(r, c);
    return m;
}

// Rotation about the centre, counter-clockwise for a positive angle,
// enlarged so the rotated picture still fills the whole frame.
cv::Matx33d rotationToFill(cv::Size frame, double angle) {
    const double longer = std::max(frame.width, frame.height);
    const double shorter = std::min(frame.width, frame.height);
    const double scale = std::abs(std::cos(angle)) + (longer / shorter) * std::abs(std::sin(angle));
    const cv::Point2f centre(static_cast<float>((frame.width - 1) * 0.5), static_cast<float>((frame.height - 1) * 0.5));
    return homogeneous(cv::getRotationMatrix2D(centre, angle * 180.0 / std::numbers::pi, scale));
}

// The roll (when `roll`), then the keystone (when `keystone`): keeps the
// top edge where it is when v > 0 and pulls the bottom corners in (the
// reverse for v < 0), then crops to the kept width.
Plan planFor(cv::Size frame, double r, bool roll, double v, bool keystone, bool autoCrop) {
    Plan plan;
    plan.size = frame;
    plan.frameRows = frame.height;
    cv::Matx33d forward = roll ? rotationToFill(frame, r) : cv::Matx33d::eye();
    if (keystone) {
        const double width = frame.width;
        const double height = frame.height;
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
        forward = homogeneous(cv::getPerspectiveTransform(from.data(), to.data())) * forward;
        plan.projective = true;
        plan.keystone = Trapezoid{mid, topHalf, bottomHalf};

        // Whole pixels inside [mid - keep, mid + keep]: the right edge is
        // taken down from mid + keep, so no column reaches into a wedge.
        const double keep = autoCrop ? std::min(topHalf, bottomHalf) : std::max(topHalf, bottomHalf);
        const int left = static_cast<int>(std::clamp(std::ceil(mid - keep), 0.0, width));
        const int right = static_cast<int>(std::clamp(std::floor(mid + keep), 0.0, width));
        if (right > left && !(left == 0 && right == frame.width)) {
            plan.left = left;
            plan.size.width = right - left;
        }
    }
    const cv::Matx33d crop(1, 0, -plan.left, 0, 1, 0, 0, 0, 1);
    plan.toSource = (crop * forward).inv();
    return plan;
}

// The part of the source a tile of the result reads: the bounds of where its
// corners come from, widened by the sampling reach, inside the picture and
// at least one pixel (a tile that maps wholly outside repeats the nearest
// edge, as the border rule does anyway). The map keeps convex shapes convex
// over the frame, so the corners bound the whole tile.
cv::Rect sourceWindow(const Plan& plan, const cv::Rect& tile, cv::Size source) {
    double minX = std::numeric_limits<double>::infinity(), minY = minX;
    double maxX = -minX, maxY = -minX;
    const int right = tile.x + tile.width - 1;
    const int bottom = tile.y + tile.height - 1;
    for (const cv::Point corner : {tile.tl(), cv::Point(right, tile.y), cv::Point(tile.x, bottom), cv::Point(right, bottom)}) {
        const cv::Vec3d p = plan.toSource * cv::Vec3d(corner.x, corner.y, 1.0);
        const double sx = p[0] / p[2], sy = p[1] / p[2];
        if (!(p[2] > 0) || !std::isfinite(sx) || !std::isfinite(sy)) return {0, 0, source.width, source.height};
        minX = std::min(minX, sx);
        maxX = std::max(maxX, sx);
        minY = std::min(minY, sy);
        maxY = std::max(maxY, sy);
    }
    const auto span = [](double low, double high, int size) {
        const double first = std::clamp(std::floor(low) - kReach, 0.0, size - 1.0);
        const double end = std::clamp(std::ceil(high) + kReach + 1, first + 1, static_cast<double>(size));
        return std::array<int, 2>{static_cast<int>(first), static_cast<int>(end)};
    };
    const auto [x0, x1] = span(minX, maxX, source.width);
    const auto [y0, y1] = span(minY, maxY, source.height);
    return {x0, y0, x1 - x0, y1 - y0};
}

void sample(const cv::Mat& in, cv::Mat& out, const cv::Matx33d& map, bool projective, cv::Size size) {
    const int flags = cv::INTER_CUBIC | cv::WARP_INVERSE_MAP;
    if (projective)
        cv::warpPerspective(in, out, cv::Mat(map), size, flags, cv::BORDER_REPLICATE);
    else
        cv::warpAffine(in, out, cv::Mat(map).rowRange(0, 2), size, flags, cv::BORDER_REPLICATE);
}

// Bicubic weights as OpenCV's INTER_CUBIC has them (a = -0.75, positions
// quantised to 1/32 pixel): across as pairs of 16-bit integers in 1/2048ths
// summing to 2048, down as floats.
constexpr int kSubpixelBits = 5;
constexpr int kSubpixels = 1 << kSubpixelBits;
constexpr int kWeightScale = 2048;

struct CubicWeights {
    std::array<std::array<std::uint32_t, 2>, kSubpixels> across; // taps 0 and 1, taps 2 and 3
    std::array<std::array<float, 4>, kSubpixels> down;
};

const CubicWeights& cubicWeights() {
    static const CubicWeights table = [] {
        CubicWeights t{};
        constexpr double a = -0.75;
        for (int k = 0; k < kSubpixels; ++k) {
            const double x = static_cast<double>(k) / kSubpixels;
            const std::array<double, 3> w{((a * (x + 1) - 5 * a) * (x + 1) + 8 * a) * (x + 1) - 4 * a,
                                          ((a + 2) * x - (a + 3)) * x * x + 1,
                                          ((a + 2) * (1 - x) - (a + 3)) * (1 - x) * (1 - x) + 1};
            std::array<int, 4> q{};
            for (std::size_t i = 0; i < 3; ++i) q[i] = static_cast<int>(std::lround(w[i] * kWeightScale));
            q[3] = kWeightScale - q[0] - q[1] - q[2];
            const auto pair = [](int low, int high) {
                return static_cast<std::uint32_t>(static_cast<std::uint16_t>(low)) |
                       (static_cast<std::uint32_t>(static_cast<std::uint16_t>(high)) << 16);
            };
            const auto ks = static_cast<std::size_t>(k);
            t.across[ks] = {pair(q[0], q[1]), pair(q[2], q[3])};
            for (std::size_t i = 0; i < 4; ++i)
                t.down[ks][i] = static_cast<float>(q[i]) / (kWeightScale * kWeightScale);
        }
        return t;
    }();
    return table;
}

// A position in 1/32 pixels. Far outside the picture every tap repeats the
// same edge pixel, so positions are held a few pixels off it first (which
// also keeps the conversion in range).
int subpixel(double position, int size) {
    const double held = position >= -8.0 * kSubpixels ? std::min(position, (size + 8.0) * kSubpixels)
                                                      : -8.0 * kSubpixels; // NaN is held too
    return cvRound(held);
}

// One tile of an opaque 8-bit picture, the camera photo's case: the 4 x 4
// window of each result pixel summed for all four bands at once (across in
// 16-bit pairs, down in floats). `map` takes tile pixels to the picture's.
// Alpha comes out full, as it went in.
void warpOpaque8(const cv::Mat& source, cv::Mat& out, const cv::Matx33d& map, bool projective) {
    const CubicWeights& weights = cubicWeights();
    const int columns = source.cols, rows = source.rows;
    const std::size_t step = source.step[0];
    // Positions (in 1/32 pixels) whose whole window lies inside the picture.
    const double firstInside = kSubpixels, endAcross = (columns - 2.0) * kSubpixels - 1,
                 endDown = (rows - 2.0) * kSubpixels - 1;
    std::array<std::array<std::uint8_t, 16>, 4> edge{};
    for (int y = 0; y < out.rows; ++y) {
        auto* target = out.ptr<std::uint8_t>(y);
        // The map's numerators and denominator at the row's first pixel,
        // then stepped along the row.
        double u = map(0, 1) * y + map(0, 2), v = map(1, 1) * y + map(1, 2);
        double w = projective ? map(2, 1) * y + map(2, 2) : 1.0;
        for (int x = 0; x < out.cols; ++x, u += map(0, 0), v += map(1, 0)) {
            const double scale = w > 0 ? kSubpixels / w : 0.0;
            if (projective) w += map(2, 0);
            const double px = u * scale, py = v * scale;
            std::array<const std::uint8_t*, 4> window{};
            int sx, sy;
            if (px >= firstInside && px < endAcross && py >= firstInside && py < endDown) {
                sx = cvRound(px);
                sy = cvRound(py);
                const std::uint8_t* corner = source.data + static_cast<std::size_t>((sy >> kSubpixelBits) - 1) * step +
                                             4 * static_cast<std::size_t>((sx >> kSubpixelBits) - 1);
                for (std::size_t j = 0; j < 4; ++j) window[j] = corner + j * step;
            } else {
                // Past an edge the edge pixels repeat.
                sx = subpixel(px, columns);
                sy = subpixel(py, rows);
                const int left = (sx >> kSubpixelBits) - 1, top = (sy >> kSubpixelBits) - 1;
                for (int j = 0; j < 4; ++j) {
                    const std::uint8_t* row = source.ptr<std::uint8_t>(std::clamp(top + j, 0, rows - 1));
                    for (int i = 0; i < 4; ++i)
                        std::memcpy(edge[static_cast<std::size_t>(j)].data() + 4 * i,
                                    row + 4 * std::clamp(left + i, 0, columns - 1), 4);
                    window[static_cast<std::size_t>(j)] = edge[static_cast<std::size_t>(j)].data();
                }
            }
            const auto& across = weights.across[static_cast<std::size_t>(sx & (kSubpixels - 1))];
            const auto& down = weights.down[static_cast<std::size_t>(sy & (kSubpixels - 1))];
            const cv::v_int16x8 first = cv::v_reinterpret_as_s16(cv::v_setall_u32(across[0]));
            const cv::v_int16x8 second = cv::v_reinterpret_as_s16(cv::v_setall_u32(across[1]));
            const auto rowSum = [&](std::size_t j) {
                // Each band of two neighbours side by side, for one
                // multiply-add per pair.
                cv::v_uint16x8 bands01, bands23;
                cv::v_expand(cv::v_interleave_quads(cv::v_load(window[j])), bands01, bands23);
                return cv::v_cvt_f32(cv::v_dotprod(cv::v_reinterpret_as_s16(bands01), first) +
                                     cv::v_dotprod(cv::v_reinterpret_as_s16(bands23), second)) *
                       cv::v_setall_f32(down[j]);
            };
            // Summed in pairs, so the four rows don't wait on each other.
            const cv::v_float32x4 sum = (rowSum(0) + rowSum(1)) + (rowSum(2) + rowSum(3));
            const cv::v_int32x4 rounded = cv::v_round(sum);
            const cv::v_int16x8 narrow = cv::v_pack(rounded, rounded);
            const std::uint32_t pixel = cv::v_reinterpret_as_u32(cv::v_pack_u(narrow, narrow)).get0();
            std::memcpy(target + 4 * x, &pixel, 4);
            target[4 * x + 3] = 255;
        }
    }
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

void clampUnit(cv::Mat& pixels) { cv::max(cv::min(pixels, cv::Scalar::all(1.0)), cv::Scalar::all(0.0), pixels); }

// Scales the alpha of every pixel by how much of it the trapezoid covers
// (its side edges evaluated at the row's centre), so only the wedges outside
// the warped picture turn transparent. `origin` is the tile's place in the
// uncropped frame.
template <typename T>
void clearWedges(cv::Mat& rgba, cv::Point origin, int frameRows, const Trapezoid& shape) {
    for (int y = 0; y < rgba.rows; ++y) {
        const double t = (origin.y + y + 0.5) / frameRows;
        const double half = shape.topHalf + (shape.bottomHalf - shape.topHalf) * t;
        // In the tile's columns.
        const double left = shape.mid - half - origin.x;
        const double right = shape.mid + half - origin.x;
        T* row = rgba.ptr<T>(y);
        for (int x = 0; x < rgba.cols; ++x) {
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

// Warps one tile of the result from its part of the source. A part with
// transparent pixels is warped premultiplied, so clear pixels don't bleed
// their colour; float results are kept in 0..1 (cubic sampling overshoots).
void warpTile(const cv::Mat& source, bool allOpaque, cv::Mat& result, const Plan& plan, const cv::Rect& tile) {
    const cv::Rect window = sourceWindow(plan, tile, source.size());
    const cv::Matx33d shift(1, 0, -window.x, 0, 1, -window.y, 0, 0, 1);
    const cv::Matx33d place(1, 0, tile.x, 0, 1, tile.y, 0, 0, 1);
    const cv::Matx33d map = shift * plan.toSource * place;
    const cv::Mat in = source(window);
    cv::Mat out = result(tile);
    const bool opaque = allOpaque || isOpaque(in);
    if (opaque && source.depth() == CV_8U) {
        warpOpaque8(source, out, plan.toSource * place, plan.projective);
    } else if (opaque) {
        // Only the colour is sampled: the bicubic pass costs per band, and
        // alpha comes back full from the conversion.
        cv::Mat colour, warpedColour;
        cv::cvtColor(in, colour, cv::COLOR_RGBA2RGB);
        sample(colour, warpedColour, map, plan.projective, tile.size());
        if (warpedColour.depth() == CV_32F) clampUnit(warpedColour);
        cv::cvtColor(warpedColour, out, cv::COLOR_RGB2RGBA);
    } else {
        const double full = fullAlpha(source.depth());
        cv::Mat working;
        in.convertTo(working, CV_32FC4, 1.0 / full);
        premultiply(working, false);
        cv::Mat warped;
        sample(working, warped, map, plan.projective, tile.size());
        // Colour from the unclamped alpha, so sampling overshoot at an edge
        // doesn't change the hue.
        premultiply(warped, true);
        clampUnit(warped);
        warped.convertTo(out, out.type(), full);
    }
    if (!plan.keystone) return;
    const cv::Point frameOrigin(plan.left + tile.x, tile.y);
    switch (out.depth()) {
    case CV_8U: clearWedges<std::uint8_t>(out, frameOrigin, plan.frameRows, *plan.keystone); break;
    case CV_16U: clearWedges<std::uint16_t>(out, frameOrigin, plan.frameRows, *plan.keystone); break;
    default: clearWedges<float>(out, frameOrigin, plan.frameRows, *plan.keystone); break;
    }
}

// Lets the kernel back a large new buffer with huge pages before anything
// is written to it: a camera photo's result then takes a few dozen page
// faults instead of some twenty thousand, which on a virtual machine is much
// of the warp's time. Only advice: where huge pages are off nothing changes.
void adviseHugePages(const cv::Mat& buffer) {
    constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
    const auto start = reinterpret_cast<std::uintptr_t>(buffer.datastart);
    const auto end = reinterpret_cast<std::uintptr_t>(buffer.dataend);
    const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
    const std::uintptr_t last = end & ~(kHugePage - 1);
    if (last > first) ::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

cv::Mat warped(const cv::Mat& source, const Plan& plan) {
    cv::Mat result(plan.size, source.type());
    adviseHugePages(result);
    const int across = (plan.size.width + kTileColumns - 1) / kTileColumns;
    const int down = (plan.size.height + kTileRows - 1) / kTileRows;
    // One look at the whole picture spares each tile its own.
    const bool opaque = isOpaque(source);
    cv::parallel_for_(cv::Range(0, across * down), [&](const cv::Range& range) {
        for (int i = range.start; i < range.end; ++i) {
            const int x = (i % across) * kTileColumns;
            const int y = (i / across) * kTileRows;
            const cv::Rect tile(x, y, std::min(kTileColumns, plan.size.width - x),
                                std::min(kTileRows, plan.size.height - y));
            warpTile(source, opaque, result, plan, tile);
        }
    });
    return result;
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

    const Plan plan = planFor(image.pixels.size(), r, roll, v, keystone, parameters.autoCrop);
    return Image{warped(image.pixels, plan), image.metadata};
}

} // namespace image
