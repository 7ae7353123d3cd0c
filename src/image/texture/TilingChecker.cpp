#include "image/texture/TilingChecker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include <fmt/format.h>
#include <opencv2/core.hpp>

#include "image/texture/ChannelPacker.h"
#include "image/texture/TextureLoaders.h"

namespace image {

namespace {

constexpr double kWorkingSide = 2048.0;
constexpr double kNeighbourFloor = 0.7;

// A side scaled by f, truncated, at least `least`.
int scaledSide(int side, double f, int least) {
    const double v = std::floor(side * f);
    if (!std::isfinite(v) || v < least) return least;
    return static_cast<int>(v);
}

// (|dR| + |dG| + |dB|) / 3 of two pixels, 4 bytes each; alpha ignored.
inline double difference(const std::uint8_t* a, const std::uint8_t* b) {
    return (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2])) / 3.0;
}

} // namespace

std::string TilingChecker::Result::summary() const {
    if (isSeamless()) return "tiles seamlessly";
    std::string text = "Visible seam: ";
    if (horizontalSeam())
        text += fmt::format("left/right edges don't match ({:.0f}x the usual pixel difference)", horizontalRatio);
    if (verticalSeam()) {
        if (horizontalSeam()) text += "; ";
        text += fmt::format("top/bottom edges don't match ({:.0f}x)", verticalRatio);
    }
    return text;
}

TilingChecker::Result TilingChecker::check(const std::filesystem::path& url) {
    const auto decoded = textures::decodeTexture(url);
    if (!decoded) throw PackingError::cannotRead(url);
    const int width = decoded->cols;
    const int height = decoded->rows;
    const double g = std::min(kWorkingSide / std::max(width, height), 1.0);
    const int w = scaledSide(width, g, 2);
    const int h = scaledSide(height, g, 2);
    const auto rgb = ChannelPacker::loadRGB(*decoded, w, h);
    if (!rgb) throw PackingError::cannotRead(url);

    const std::uint8_t* px = rgb->data();
    const auto at = [&](int x, int y) {
        return px + (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4;
    };
    double edgeLR = 0, innerH = 0, edgeTB = 0, innerV = 0;
    for (int y = 0; y < h; ++y) {
        edgeLR += difference(at(0, y), at(w - 1, y));
        for (int x = 1; x < w; ++x) innerH += difference(at(x - 1, y), at(x, y));
    }
    for (int y = 1; y < h; ++y)
        for (int x = 0; x < w; ++x) innerV += difference(at(x, y - 1), at(x, y));
    for (int x = 0; x < w; ++x) edgeTB += difference(at(x, 0), at(x, h - 1));

    Result result;
    result.horizontalRatio = (edgeLR / h) / std::max(kNeighbourFloor, innerH / (double(h) * (w - 1)));
    result.verticalRatio = (edgeTB / w) / std::max(kNeighbourFloor, innerV / (double(w) * (h - 1)));
    result.width = width;
    result.height = height;
    return result;
}

Image TilingChecker::tiledPreview(const std::filesystem::path& url, int maxTile) {
    const auto decoded = textures::decodeTexture(url);
    if (!decoded) throw PackingError::cannotRead(url);
    const double c = std::min(static_cast<double>(maxTile) / std::max(decoded->cols, decoded->rows), 1.0);
    const int tw = scaledSide(decoded->cols, c, 1);
    const int th = scaledSide(decoded->rows, c, 1);
    const cv::Mat tile = textures::rgba8At(*decoded, tw, th);
    if (tile.empty() || tile.type() != CV_8UC4) throw PackingError::compositionFailed();

    Image preview;
    preview.pixels = cv::Mat(th * 2, tw * 2, CV_8UC4);
    for (int ty = 0; ty < 2; ++ty)
        for (int tx = 0; tx < 2; ++tx) tile.copyTo(preview.pixels(cv::Rect(tx * tw, ty * th, tw, th)));
    return preview;
}

} // namespace image
