#include "image/texture/PowerOfTwoScaler.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "image/picture/Resampler.h"

namespace image {

namespace {

constexpr std::uint64_t kLargestPower = std::uint64_t{1} << 62;

// The largest power of two at or below v (v >= 1).
std::uint64_t floorPower(std::uint64_t v) { return std::bit_floor(v); }

// The smallest power of two at or above v, capped at 2^62.
std::uint64_t ceilPower(std::uint64_t v) {
    if (v >= kLargestPower) return kLargestPower;
    return std::bit_ceil(v);
}

// A side as an int for the pixel buffers (huge targets are clamped).
int pixelSide(std::int64_t side) {
    return static_cast<int>(std::clamp<std::int64_t>(side, 0, std::numeric_limits<int>::max()));
}

// 2 x 2 box average of whole pixels; an odd last row or column is dropped,
// a side of 1 repeats its only pixel. Integers round half up.
template <typename T>
void halveInto(const cv::Mat& in, cv::Mat& out) {
    const int channels = in.channels();
    for (int y = 0; y < out.rows; ++y) {
        const T* row0 = in.ptr<T>(std::min(2 * y, in.rows - 1));
        const T* row1 = in.ptr<T>(std::min(2 * y + 1, in.rows - 1));
        T* dst = out.ptr<T>(y);
        for (int x = 0; x < out.cols; ++x) {
            const int x0 = std::min(2 * x, in.cols - 1) * channels;
            const int x1 = std::min(2 * x + 1, in.cols - 1) * channels;
            for (int c = 0; c < channels; ++c) {
                if constexpr (std::numeric_limits<T>::is_integer) {
                    const std::uint64_t sum = std::uint64_t{row0[x0 + c]} + row0[x1 + c] + row1[x0 + c] + row1[x1 + c] + 2;
                    dst[x * channels + c] = static_cast<T>(sum / 4);
                } else {
                    dst[x * channels + c] = static_cast<T>((row0[x0 + c] + row0[x1 + c] + row1[x0 + c] + row1[x1 + c]) / 4);
                }
            }
        }
    }
}

cv::Mat halved(const cv::Mat& in) {
    cv::Mat out(std::max(1, in.rows / 2), std::max(1, in.cols / 2), in.type());
    switch (in.depth()) {
    case CV_8U:
        halveInto<std::uint8_t>(in, out);
        break;
    case CV_16U:
        halveInto<std::uint16_t>(in, out);
        break;
    case CV_32F:
        halveInto<float>(in, out);
        break;
    default:
        cv::Mat wide;
        in.convertTo(wide, CV_32F);
        cv::Mat half(out.size(), wide.type());
        halveInto<float>(wide, half);
        half.convertTo(out, in.type());
        break;
    }
    return out;
}

} // namespace

std::int64_t PowerOfTwoScaler::computePOTDimension(std::int64_t side, ScaleMode mode) const {
    if (mode.kind == ScaleMode::Kind::fixedTarget) return mode.size;
    const std::uint64_t s = side < 1 ? 1 : static_cast<std::uint64_t>(side);
    const std::uint64_t lower = std::min(floorPower(s), kLargestPower);
    const std::uint64_t upper = ceilPower(s);
    switch (mode.kind) {
    case ScaleMode::Kind::roundUpPowerOfTwo:
        return static_cast<std::int64_t>(upper);
    case ScaleMode::Kind::roundDownPowerOfTwo:
        return static_cast<std::int64_t>(lower);
    case ScaleMode::Kind::nearestPowerOfTwo:
    case ScaleMode::Kind::fixedTarget:
        break;
    }
    // Both distances are exact in unsigned arithmetic (lower <= s <= 2^63).
    if (s >= upper) return static_cast<std::int64_t>(lower == upper ? lower : upper);
    return static_cast<std::int64_t>((s - lower) < (upper - s) ? lower : upper);
}

PowerOfTwoScaler::Size PowerOfTwoScaler::potSize(std::int64_t width, std::int64_t height, ScaleMode mode,
                                                 bool forceSquare) const {
    Size out{computePOTDimension(width, mode), computePOTDimension(height, mode)};
    if (forceSquare) {
        const std::int64_t side = std::max(out.width, out.height);
        out = {side, side};
    }
    return out;
}

cv::Mat PowerOfTwoScaler::scaleToPOT(const cv::Mat& image, ScaleMode mode, bool forceSquare) const {
    const Size target = potSize(image.cols, image.rows, mode, forceSquare);
    return scale(image, pixelSide(target.width), pixelSide(target.height));
}

Image PowerOfTwoScaler::scaleToPOT(const Image& image, ScaleMode mode, bool forceSquare) const {
    return Image{scaleToPOT(image.pixels, mode, forceSquare), image.metadata};
}

cv::Mat PowerOfTwoScaler::scale(const cv::Mat& image, int toWidth, int height) const {
    return resample(image, toWidth, height, AlphaHandling::independent);
}

Image PowerOfTwoScaler::scale(const Image& image, int toWidth, int height) const {
    return Image{scale(image.pixels, toWidth, height), image.metadata};
}

std::vector<PowerOfTwoScaler::MipmapLevel> PowerOfTwoScaler::generateMipmaps(const cv::Mat& image,
                                                                            int minDimension) const {
    std::vector<MipmapLevel> levels;
    int dimension = std::max(image.cols, image.rows);
    levels.push_back({0, dimension, image});
    while (minDimension < dimension && !levels.back().image.empty()) {
        const MipmapLevel& previous = levels.back();
        dimension /= 2;
        levels.push_back({previous.level + 1, dimension, halved(previous.image)});
    }
    return levels;
}

} // namespace image
