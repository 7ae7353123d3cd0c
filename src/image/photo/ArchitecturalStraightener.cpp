#include "image/photo/ArchitecturalStraightener.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>

#include <opencv2/core.hpp>

#include "image/picture/Resampler.h"

namespace image {

namespace {

// sRGB-encoded value (0..1) to linear light.
double linearFromSRGB(double c) {
    c = std::clamp(c, 0.0, 1.0);
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

const std::array<float, 256>& linear8() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> t{};
        for (int i = 0; i < 256; ++i) t[static_cast<std::size_t>(i)] = static_cast<float>(linearFromSRGB(i / 255.0));
        return t;
    }();
    return table;
}

// Linear-light luminance over black (the copy has no alpha), 0..1.
template <typename T>
void luminanceRows(const cv::Mat& rgba, std::vector<std::uint8_t>& out) {
    for (int y = 0; y < rgba.rows; ++y) {
        const T* row = rgba.ptr<T>(y);
        std::uint8_t* target = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(rgba.cols);
        for (int x = 0; x < rgba.cols; ++x) {
            const T* p = row + 4 * x;
            double r, g, b, a;
            if constexpr (std::is_same_v<T, std::uint8_t>) {
                const auto& lut = linear8();
                r = lut[p[0]];
                g = lut[p[1]];
                b = lut[p[2]];
                a = p[3] / 255.0;
            } else if constexpr (std::is_same_v<T, std::uint16_t>) {
                r = linearFromSRGB(p[0] / 65535.0);
                g = linearFromSRGB(p[1] / 65535.0);
                b = linearFromSRGB(p[2] / 65535.0);
                a = p[3] / 65535.0;
            } else {
                r = linearFromSRGB(p[0]);
                g = linearFromSRGB(p[1]);
                b = linearFromSRGB(p[2]);
                a = std::clamp(static_cast<double>(p[3]), 0.0, 1.0);
            }
            const double luminance = (0.2126 * r + 0.7152 * g + 0.0722 * b) * a;
            target[x] = static_cast<std::uint8_t>(std::lround(std::clamp(luminance, 0.0, 1.0) * 255.0));
        }
    }
}

// A camera photo shrunk to the gray copy's size would take a Lanczos pass
// whose kernel spans dozens of pixels over every source pixel. An opaque
// picture is first averaged in whole blocks (one cheap, multithreaded read)
// down to at least twice the copy's size; the Lanczos pass then only has to
// halve it. Transparent pictures keep the premultiplied resampling alone.
cv::Mat boxShrunk(const cv::Mat& rgba, int width, int height) {
    const int factor = std::min(rgba.cols / (2 * width), rgba.rows / (2 * height));
    if (factor < 2 || !isOpaque(rgba)) return rgba;
    return averageBlocks(rgba, factor);
}

constexpr int kDirections = 161;    // -20 to +20 degrees in quarter degrees
constexpr int kMaxPeaks = 40;
constexpr int kClearDirections = 12;
constexpr int kClearPositions = 8;

struct EdgePoint {
    int x;
    int y;
};

std::vector<EdgePoint> edgePoints(const ArchitecturalStraightener::GrayBitmap& bitmap) {
    const int w = bitmap.width;
    const int h = bitmap.height;
    auto P = [&](int y, int x) -> int {
        return bitmap.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)];
    };
    std::vector<EdgePoint> points;
    for (int y = 2; y <= h - 3; ++y) {
        for (int x = 2; x <= w - 3; ++x) {
            const int gx = (P(y - 1, x + 1) + 2 * P(y, x + 1) + P(y + 1, x + 1)) -
                           (P(y - 1, x - 1) + 2 * P(y, x - 1) + P(y + 1, x - 1));
            if (std::abs(gx) <= 120) continue;
            const int gy = (P(y + 1, x - 1) + 2 * P(y + 1, x) + P(y + 1, x + 1)) -
                           (P(y - 1, x - 1) + 2 * P(y - 1, x) + P(y - 1, x + 1));
            if (5 * std::abs(gy) < 2 * std::abs(gx)) points.push_back({x, y});
        }
    }
    return points;
}

} // namespace

bool ArchitecturalStraightener::StraightenParameters::isIdentity() const {
    return std::abs(verticalKeystoneCorrection) < 1e-4 && std::abs(rotationAngleRadians) < 1e-4;
}

std::optional<ArchitecturalStraightener::GrayBitmap> ArchitecturalStraightener::grayscaleBitmap(const Image& image,
                                                                                              double maxDimension) {
    const int width = image.width();
    const int height = image.height();
    if (image.empty() || width < 32 || height < 32 || image.pixels.channels() != 4) return std::nullopt;
    const double s = std::min(maxDimension / std::max(width, height), 1.0);
    if (!std::isfinite(s) || s <= 0) return std::nullopt;
    const double scaledWidth = std::floor(width * s);
    const double scaledHeight = std::floor(height * s);
    if (scaledWidth < 32 || scaledHeight < 32) return std::nullopt;
    const int w = static_cast<int>(scaledWidth);
    const int h = static_cast<int>(scaledHeight);

    cv::Mat scaled = image.pixels;
    if (w != width || h != height) scaled = resample(boxShrunk(image.pixels, w, h), w, h, AlphaHandling::premultiplied);
    if (scaled.cols != w || scaled.rows != h) return std::nullopt;

    GrayBitmap bitmap{w, h, std::vector<std::uint8_t>(static_cast<std::size_t>(w) * static_cast<std::size_t>(h))};
    switch (scaled.depth()) {
    case CV_8U:
        luminanceRows<std::uint8_t>(scaled, bitmap.pixels);
        break;
    case CV_16U:
        luminanceRows<std::uint16_t>(scaled, bitmap.pixels);
        break;
    case CV_32F:
        luminanceRows<float>(scaled, bitmap.pixels);
        break;
    default:
        return std::nullopt;
    }
    return bitmap;
}

std::vector<ArchitecturalStraightener::DetectedLine> ArchitecturalStraightener::detectVerticalLines(
    const GrayBitmap& bitmap) {
    const int w = bitmap.width;
    const int h = bitmap.height;
    if (w < 5 || h < 5 ||
        bitmap.pixels.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h))
        return {};
    const std::vector<EdgePoint> points = edgePoints(bitmap);
    if (points.size() <= static_cast<std::size_t>(h / 2)) return {};

    std::array<double, kDirections> slopes{};
    for (int i = 0; i < kDirections; ++i)
        slopes[static_cast<std::size_t>(i)] = std::tan((i * 0.25 - 20.0) * std::numbers::pi / 180.0);

    const int m = w / 2;
    const int cells = w + 2 * m;
    std::vector<std::int32_t> votes(static_cast<std::size_t>(kDirections) * static_cast<std::size_t>(cells), 0);
    auto at = [&](int direction, int cell) -> std::int32_t& {
        return votes[static_cast<std::size_t>(direction) * static_cast<std::size_t>(cells) + static_cast<std::size_t>(cell)];
    };
    const double middle = 0.5 * h;
    // Each direction's votes on their own row, so directions can be counted
    // side by side on OpenCV's workers.
    cv::parallel_for_(cv::Range(0, kDirections), [&](const cv::Range& directions) {
        for (int i = directions.start; i < directions.end; ++i) {
            const double slope = slopes[static_cast<std::size_t>(i)];
            for (const EdgePoint& p : points) {
                // |t * dy| stays below the picture's height, so this is in range.
                const long cell = std::lround(p.x - slope * (p.y - middle)) + m;
                if (cell >= 0 && cell < cells) ++at(i, static_cast<int>(cell));
            }
        }
    });

    const auto minVotes = static_cast<std::int32_t>(h * 0.22);
    std::vector<DetectedLine> lines;
    for (int peak = 0; peak < kMaxPeaks; ++peak) {
        const auto best = std::max_element(votes.begin(), votes.end());
        if (*best < minVotes || *best <= 0) break;
        const auto index = static_cast<std::size_t>(best - votes.begin());
        const int direction = static_cast<int>(index / static_cast<std::size_t>(cells));
        const int cell = static_cast<int>(index % static_cast<std::size_t>(cells));
        lines.push_back({static_cast<double>(cell - m), slopes[static_cast<std::size_t>(direction)], *best});
        for (int i = std::max(0, direction - kClearDirections); i <= std::min(kDirections - 1, direction + kClearDirections); ++i)
            for (int k = std::max(0, cell - kClearPositions); k <= std::min(cells - 1, cell + kClearPositions); ++k)
                at(i, k) = 0;
    }
    std::erase_if(lines, [w](const DetectedLine& line) { return line.x0 < 0 || line.x0 >= w; });
    return lines;
}

ArchitecturalStraightener::StraightenParameters ArchitecturalStraightener::analyze(const Image& image) const {
    const auto bitmap = grayscaleBitmap(image, 720);
    if (!bitmap) return StraightenParameters::identity;
    const std::vector<DetectedLine> lines = detectVerticalLines(*bitmap);
    if (lines.size() < 2) return StraightenParameters::identity;

    const double w = bitmap->width;
    const double h = bitmap->height;
    double sumW = 0, sumWT = 0, sumWU = 0, sumWUU = 0, sumWUT = 0;
    for (const DetectedLine& line : lines) {
        const double wi = line.votes;
        const double u = line.x0 - 0.5 * w;
        sumW += wi;
        sumWT += wi * line.slope;
        sumWU += wi * u;
        sumWUU += wi * u * u;
        sumWUT += wi * u * line.slope;
    }
    const double meanT = sumWT / sumW;
    const double meanU = sumWU / sumW;
    const double varU = sumWUU / sumW - meanU * meanU;

    double k = 0;
    double t0 = meanT;
    if (lines.size() > 2 && varU > 0 && std::sqrt(varU) > 0.12 * w) {
        k = (sumWUT / sumW - meanT * meanU) / varU;
        t0 = meanT - meanU * k;
    }
    const double keystone = k * h * 0.5;
    const double roll = std::atan(t0);

    StraightenParameters result;
    const double keystoneSize = std::abs(keystone);
    result.verticalKeystoneCorrection = (keystoneSize >= 0.008 && keystoneSize <= 0.25) ? keystone : 0.0;
    const double rollSize = std::abs(roll);
    result.rotationAngleRadians =
        (rollSize >= 0.002617993877991494 && rollSize <= 0.10471975511965977) ? -roll : 0.0;
    result.horizontalKeystoneCorrection = 0;
    result.autoCrop = true;
    result.linesDetected = static_cast<int>(lines.size());
    return result;
}

ArchitecturalStraightener::Straightened ArchitecturalStraightener::autoStraighten(const Image& image) const {
    const StraightenParameters parameters = analyze(image);
    return {straighten(image, parameters), parameters};
}

} // namespace image
