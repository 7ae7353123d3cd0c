#include "image/photo/WatermarkRenderer.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include "image/picture/Resampler.h"

namespace image {

namespace {

// A scaled logo beyond this many pixels a side is refused (its visible
// part would still be at most the photo, but scaling it would not be).
constexpr double kLargestLogoSide = 65535;

double fullValue(int depth) {
    switch (depth) {
    case CV_8U: return 255.0;
    case CV_16U: return 65535.0;
    default: return 1.0;
    }
}

std::optional<int> wholePixels(double value, double largest) {
    if (!std::isfinite(value)) return std::nullopt;
    const double rounded = std::round(value);   // halves away from zero
    if (rounded < 1 || rounded > largest) return std::nullopt;
    return static_cast<int>(rounded);
}

// Lays `logo` (same depth as the photo, straight alpha) over `photo` at
// `origin`, source-over, with the logo's alpha multiplied by `opacity`.
// Only the part of the logo inside the photo is touched.
template <typename T>
void composite(cv::Mat& photo, const cv::Mat& logo, cv::Point origin, double opacity) {
    const cv::Rect placed(origin, logo.size());
    const cv::Rect visible = placed & cv::Rect(0, 0, photo.cols, photo.rows);
    if (visible.empty()) return;
    const double full = fullValue(photo.depth());
    for (int y = visible.y; y < visible.y + visible.height; ++y) {
        T* target = photo.ptr<T>(y);
        const T* source = logo.ptr<T>(y - origin.y);
        for (int x = visible.x; x < visible.x + visible.width; ++x) {
            const T* l = source + 4 * (x - origin.x);
            T* p = target + 4 * x;
            const double la = std::clamp(l[3] / full, 0.0, 1.0) * opacity;
            if (la <= 0) continue;
            const double pa = std::clamp(p[3] / full, 0.0, 1.0);
            const double under = pa * (1.0 - la);
            const double oa = la + under;
            for (int c = 0; c < 3; ++c) {
                const double value = (l[c] * la + p[c] * under) / oa;
                if constexpr (std::is_floating_point_v<T>)
                    p[c] = static_cast<T>(value);
                else
                    p[c] = cv::saturate_cast<T>(value);
            }
            if constexpr (std::is_floating_point_v<T>)
                p[3] = static_cast<T>(oa * full);
            else
                p[3] = cv::saturate_cast<T>(oa * full);
        }
    }
}

} // namespace

Image WatermarkRenderer::applyWatermark(const Image& photo, const Image& watermark, const WatermarkOptions& options) const {
    if (photo.empty() || watermark.empty() || photo.pixels.channels() != 4 || watermark.pixels.channels() != 4)
        return photo;
    const double W = photo.width();
    const double H = photo.height();
    const double w = watermark.width();
    const double h = watermark.height();

    // Scaled to a fraction of the photo's width, aspect ratio kept.
    const double s = W * options.scaleFraction / w;
    const auto logoWidth = wholePixels(w * s, kLargestLogoSide);
    const auto logoHeight = wholePixels(h * s, kLargestLogoSide);
    if (!logoWidth || !logoHeight) return photo;
    if (static_cast<double>(*logoWidth) * *logoHeight > static_cast<double>(kMaxImagePixels)) return photo;
    const double lw = *logoWidth;
    const double lh = *logoHeight;

    // The top-left corner in rows from the top.
    const double mx = W * options.marginFraction;
    const double my = H * options.marginFraction;
    double x = 0;
    double y = 0;
    switch (options.position) {
    case WatermarkPosition::bottomRight: x = W - lw - mx; y = H - lh - my; break;
    case WatermarkPosition::bottomLeft: x = mx; y = H - lh - my; break;
    case WatermarkPosition::topRight: x = W - lw - mx; y = my; break;
    case WatermarkPosition::topLeft: x = mx; y = my; break;
    case WatermarkPosition::center: x = (W - lw) / 2; y = (H - lh) / 2; break;
    }
    // Anything placed further off than this is out of the photo anyway.
    const double reach = 4 * std::max({W, H, lw, lh});
    if (!std::isfinite(x) || !std::isfinite(y) || std::abs(x) > reach || std::abs(y) > reach) return photo;
    const cv::Point origin(static_cast<int>(std::round(x)), static_cast<int>(std::round(y)));
    const cv::Rect visible = cv::Rect(origin, cv::Size(*logoWidth, *logoHeight)) & cv::Rect(0, 0, photo.width(), photo.height());
    if (visible.empty()) return photo;

    const double opacity = options.opacity < 0.999 ? std::max(options.opacity, 0.0) : 1.0;

    cv::Mat scaled = watermark.pixels;
    if (scaled.cols != *logoWidth || scaled.rows != *logoHeight)
        scaled = resample(watermark.pixels, *logoWidth, *logoHeight, AlphaHandling::premultiplied);
    if (scaled.cols != *logoWidth || scaled.rows != *logoHeight) return photo;
    if (scaled.depth() != photo.pixels.depth())
        scaled.convertTo(scaled, photo.pixels.type(), fullValue(photo.pixels.depth()) / fullValue(scaled.depth()));

    Image result{photo.pixels.clone(), photo.metadata};
    switch (result.pixels.depth()) {
    case CV_8U: composite<std::uint8_t>(result.pixels, scaled, origin, opacity); break;
    case CV_16U: composite<std::uint16_t>(result.pixels, scaled, origin, opacity); break;
    case CV_32F: composite<float>(result.pixels, scaled, origin, opacity); break;
    default: return photo;
    }
    return result;
}

} // namespace image
