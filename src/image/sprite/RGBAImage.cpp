#include "image/sprite/RGBAImage.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <opencv2/core.hpp>

#include "core/Numbers.h"
#include "image/picture/Resampler.h"

namespace image {

namespace {

std::optional<int> scaledSide(int side, double scale) {
    const double v = std::round(static_cast<double>(side) * scale);
    if (!std::isfinite(v) || v > static_cast<double>(kMaxImagePixels)) return std::nullopt;
    const auto n = core::toInt(v);
    if (!n) return std::nullopt;
    return std::max(*n, 1);
}

cv::Mat toEightBit(const cv::Mat& m) {
    switch (m.depth()) {
    case CV_8U:
        return m;
    case CV_16U: {
        cv::Mat out;
        m.convertTo(out, CV_8U, 1.0 / 257.0);
        return out;
    }
    case CV_32F:
    case CV_64F: {
        cv::Mat out;
        m.convertTo(out, CV_8U, 255.0); // saturating, rounding to nearest
        return out;
    }
    default:
        return {};
    }
}

} // namespace

std::optional<RGBAImage> RGBAImage::fromMat(const cv::Mat& rgba) {
    if (rgba.empty() || rgba.channels() != 4 || rgba.dims != 2) return std::nullopt;
    cv::Mat eight = toEightBit(rgba);
    if (eight.empty()) return std::nullopt;
    RGBAImage out;
    out.width = eight.cols;
    out.height = eight.rows;
    out.pixels.resize(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height) * 4);
    const std::size_t row = static_cast<std::size_t>(out.width) * 4;
    for (int y = 0; y < out.height; ++y) std::memcpy(out.pixels.data() + row * static_cast<std::size_t>(y), eight.ptr(y), row);
    return out;
}

std::optional<RGBAImage> RGBAImage::make(const Image& image, double scale) {
    const cv::Mat& src = image.pixels;
    if (src.empty() || src.channels() != 4) return std::nullopt;
    const auto w = scaledSide(src.cols, scale), h = scaledSide(src.rows, scale);
    if (!w || !h || std::int64_t{*w} * *h > kMaxImagePixels) return std::nullopt;
    if (*w == src.cols && *h == src.rows) return fromMat(src);
    // Scale from the source depth, then reduce to 8 bits once.
    cv::Mat scaled = resample(src, *w, *h, AlphaHandling::premultiplied);
    if (scaled.empty() || scaled.cols != *w || scaled.rows != *h) return std::nullopt;
    return fromMat(scaled);
}

std::optional<SpriteRect> RGBAImage::opaqueBounds() const {
    int minX = width, minY = height, maxX = -1, maxY = -1;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        int first = -1, last = -1;
        for (int x = 0; x < width; ++x)
            if (row[4 * x + 3] != 0) {
                if (first < 0) first = x;
                last = x;
            }
        if (first < 0) continue;
        minX = std::min(minX, first);
        maxX = std::max(maxX, last);
        minY = std::min(minY, y);
        maxY = y;
    }
    if (maxX < 0) return std::nullopt;
    return SpriteRect{minX, minY, maxX - minX + 1, maxY - minY + 1};
}

RGBAImage RGBAImage::cropped(const SpriteRect& r) const {
    RGBAImage out;
    out.width = r.width;
    out.height = r.height;
    out.pixels.resize(static_cast<std::size_t>(r.width) * static_cast<std::size_t>(r.height) * 4);
    const std::size_t rowBytes = static_cast<std::size_t>(r.width) * 4;
    for (int j = 0; j < r.height; ++j) {
        const std::size_t src = (static_cast<std::size_t>(r.y + j) * static_cast<std::size_t>(width) + static_cast<std::size_t>(r.x)) * 4;
        std::memcpy(out.pixels.data() + rowBytes * static_cast<std::size_t>(j), pixels.data() + src, rowBytes);
    }
    return out;
}

RGBAImage RGBAImage::rotatedClockwise() const {
    RGBAImage out;
    out.width = height;
    out.height = width;
    out.pixels.resize(pixels.size());
    // Output (column k, row i) takes input (column i, row height - 1 - k).
    for (int i = 0; i < out.height; ++i)
        for (int k = 0; k < out.width; ++k) {
            const std::size_t from = (static_cast<std::size_t>(height - 1 - k) * static_cast<std::size_t>(width) + static_cast<std::size_t>(i)) * 4;
            const std::size_t to = (static_cast<std::size_t>(i) * static_cast<std::size_t>(out.width) + static_cast<std::size_t>(k)) * 4;
            std::memcpy(out.pixels.data() + to, pixels.data() + from, 4);
        }
    return out;
}

cv::Mat RGBAImage::toMat() const {
    cv::Mat m(height, width, CV_8UC4);
    const std::size_t row = static_cast<std::size_t>(width) * 4;
    for (int y = 0; y < height; ++y) std::memcpy(m.ptr(y), pixels.data() + row * static_cast<std::size_t>(y), row);
    return m;
}

} // namespace image
