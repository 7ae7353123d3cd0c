#include "image/texture/TextureLoaders.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <opencv2/core.hpp>

#include "image/texture/ChannelPacker.h"
#include "image/picture/ImageCodecs.h"
#include "image/picture/Resampler.h"

namespace image {

namespace textures {

namespace {

// Rec. 709 luma weights in ten-thousandths, so that rounding to the nearest
// byte (halves away from zero) is exact integer arithmetic.
struct LumaTables {
    int r[256];
    int g[256];
    int b[256];
    LumaTables() {
        for (int v = 0; v < 256; ++v) {
            r[v] = 2126 * v;
            g[v] = 7152 * v;
            b[v] = 722 * v;
        }
    }
};

const LumaTables& lumaTables() {
    static const LumaTables tables;
    return tables;
}

template <typename Body> void forEachRow(int rows, std::int64_t pixels, const Body& body) {
    if (isLargePass(pixels)) {
        cv::parallel_for_(cv::Range(0, rows), [&](const cv::Range& r) {
            for (int y = r.start; y < r.end; ++y) body(y);
        });
    } else {
        for (int y = 0; y < rows; ++y) body(y);
    }
}

cv::Mat asRGBA(const cv::Mat& pixels) {
    switch (pixels.channels()) {
    case 4:
        return pixels;
    case 3: {
        cv::Mat out;
        std::vector<cv::Mat> bands;
        cv::split(pixels, bands);
        const double opaque = pixels.depth() == CV_8U ? 255.0 : pixels.depth() == CV_16U ? 65535.0 : 1.0;
        bands.push_back(cv::Mat(pixels.size(), pixels.depth(), cv::Scalar::all(opaque)));
        cv::merge(bands, out);
        return out;
    }
    case 1: {
        const double opaque = pixels.depth() == CV_8U ? 255.0 : pixels.depth() == CV_16U ? 65535.0 : 1.0;
        std::vector<cv::Mat> bands{pixels, pixels, pixels,
                                   cv::Mat(pixels.size(), pixels.depth(), cv::Scalar::all(opaque))};
        cv::Mat out;
        cv::merge(bands, out);
        return out;
    }
    default:
        return {};
    }
}

} // namespace

std::optional<cv::Mat> decodeTexture(const std::filesystem::path& url) {
    DecodeOptions options;
    options.upright = false;
    options.toSRGB = false;
    options.readMetadata = false;
    Image decoded;
    try {
        decoded = loadImageFile(url, options);
    } catch (const ImageReadError& e) {
        // A damaged map, or one too large for the memory, says so in full.
        if (e.standsAlone()) throw;
        throw PackingError::cannotRead(url, e.reason());
    }
    cv::Mat rgba = asRGBA(decoded.pixels);
    if (rgba.empty()) return std::nullopt;
    return rgba;
}

cv::Mat rgba8At(const cv::Mat& pixels, int width, int height) {
    if (width <= 0 || height <= 0 || pixels.empty()) return {};
    cv::Mat source = asRGBA(pixels);
    if (source.empty()) return {};
    if (source.cols != width || source.rows != height) {
        source = resample(source, width, height, AlphaHandling::independent);
        if (source.empty() || source.cols != width || source.rows != height) return {};
    }
    cv::Mat out;
    switch (source.depth()) {
    case CV_8U:
        out = source.isContinuous() ? source : source.clone();
        break;
    case CV_16U:
        // 65535 / 255 = 257: the nearest byte of a 16-bit sample.
        source.convertTo(out, CV_8U, 1.0 / 257.0);
        break;
    case CV_32F: {
        cv::Mat clean = source.clone();
        cv::patchNaNs(clean, 0.0);
        clean.convertTo(out, CV_8U, 255.0); // saturates: 0...1 clamped
        break;
    }
    default: {
        cv::Mat asFloat;
        source.convertTo(asFloat, CV_32F);
        cv::patchNaNs(asFloat, 0.0);
        asFloat.convertTo(out, CV_8U, 255.0);
        break;
    }
    }
    return out;
}

int roundedSide(double side) {
    if (!std::isfinite(side) || side < 1.0) return 1;
    const double rounded = std::round(side); // halves away from zero
    if (rounded >= static_cast<double>(std::numeric_limits<int>::max())) return std::numeric_limits<int>::max();
    return std::max(1, static_cast<int>(rounded));
}

} // namespace textures

std::optional<PixelSize> ChannelPacker::pixelSize(const std::filesystem::path& url) {
    auto size = readPixelSize(url);
    if (!size || size->width <= 0 || size->height <= 0) return std::nullopt;
    return size;
}

PixelSize ChannelPacker::pixelSizeOrFail(const std::filesystem::path& url) {
    PixelSize size;
    try {
        size = loadPixelSize(url);
    } catch (const ImageReadError& e) {
        throw PackingError::cannotRead(url, e.reason());
    }
    if (size.width <= 0 || size.height <= 0) throw PackingError::cannotRead(url);
    return size;
}

std::optional<std::vector<std::uint8_t>> ChannelPacker::loadGrayscale(const std::filesystem::path& url, int width,
                                                                      int height) {
    if (width < 0 || height < 0) return std::nullopt;
    auto decoded = textures::decodeTexture(url);
    if (!decoded) return std::nullopt;
    const auto n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> plane(n);
    if (n == 0) return plane;
    const cv::Mat rgba = textures::rgba8At(*decoded, width, height);
    if (rgba.empty()) return std::nullopt;
    const auto& luma = textures::lumaTables();
    textures::forEachRow(height, static_cast<std::int64_t>(n), [&](int y) {
        const std::uint8_t* src = rgba.ptr<std::uint8_t>(y);
        std::uint8_t* dst = plane.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
        for (int x = 0; x < width; ++x, src += 4)
            dst[x] = static_cast<std::uint8_t>((luma.r[src[0]] + luma.g[src[1]] + luma.b[src[2]] + 5000) / 10000);
    });
    return plane;
}

std::optional<std::vector<std::uint8_t>> ChannelPacker::loadRGB(const cv::Mat& picture, int width, int height) {
    if (picture.empty() || width <= 0 || height <= 0) return std::nullopt;
    const cv::Mat rgba = textures::rgba8At(picture, width, height);
    if (rgba.empty()) return std::nullopt;
    const auto n = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::vector<std::uint8_t> out(n * 4);
    textures::forEachRow(height, static_cast<std::int64_t>(n), [&](int y) {
        const std::uint8_t* src = rgba.ptr<std::uint8_t>(y);
        std::uint8_t* dst = out.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width) * 4;
        for (int x = 0; x < width; ++x, src += 4, dst += 4) {
            dst[0] = src[0];
            dst[1] = src[1];
            dst[2] = src[2];
            dst[3] = 255;
        }
    });
    return out;
}

} // namespace image
