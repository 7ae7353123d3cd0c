#include "image/texture/NormalMapGenerator.h"

#include <algorithm>
#include <cmath>
#include <string_view>
#include <system_error>

#include <opencv2/core.hpp>

#include "core/Text.h"
#include "image/texture/ChannelPacker.h"
#include "image/picture/ImageCodecs.h"
#include "image/texture/TextureLoaders.h"

namespace image {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kHeightSuffixes[] = {"_Displacement", "_Height", "_Disp", "_Bump"};

char asciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool endsWithIgnoringCase(std::string_view text, std::string_view ending) {
    if (ending.size() > text.size()) return false;
    const auto tail = text.substr(text.size() - ending.size());
    return std::equal(tail.begin(), tail.end(), ending.begin(),
                      [](char a, char b) { return asciiLower(a) == asciiLower(b); });
}

std::uint8_t toByte(double unit) {
    const double v = (unit * 0.5 + 0.5) * 255.0 + 0.5;
    if (!(v > 0.0)) return 0; // also NaN
    if (v >= 255.0) return 255;
    return static_cast<std::uint8_t>(v);
}

} // namespace

PackedTexture NormalMapGenerator::fromHeight(const fs::path& url, double strength, NormalConvention convention,
                                             int maxSize, bool wrap) {
    const PixelSize size = ChannelPacker::pixelSizeOrFail(url);
    int w = size.width;
    int h = size.height;
    const int longer = std::max(w, h);
    if (maxSize > 0 && maxSize < longer) {
        const double f = static_cast<double>(maxSize) / longer;
        w = textures::roundedSide(w * f);
        h = textures::roundedSide(h * f);
    }
    const auto gray = ChannelPacker::loadGrayscale(url, w, h);
    if (!gray) throw PackingError::cannotRead(url);

    PackedTexture out;
    out.width = w;
    out.height = h;
    out.rgba.assign(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4, 255);
    const double k = std::isfinite(strength) ? strength / 255.0 : 0.0;
    const double ySign = convention == NormalConvention::openGL ? 1.0 : -1.0;

    // Column neighbours, wrapped or clamped, worked out once.
    std::vector<int> left(static_cast<std::size_t>(w)), right(static_cast<std::size_t>(w));
    for (int x = 0; x < w; ++x) {
        left[static_cast<std::size_t>(x)] = x > 0 ? x - 1 : (wrap ? w - 1 : 0);
        right[static_cast<std::size_t>(x)] = x < w - 1 ? x + 1 : (wrap ? 0 : w - 1);
    }
    const std::uint8_t* heights = gray->data();
    auto rows = [&](const cv::Range& range) {
        for (int y = range.start; y < range.end; ++y) {
            const int up = y > 0 ? y - 1 : (wrap ? h - 1 : 0);
            const int down = y < h - 1 ? y + 1 : (wrap ? 0 : h - 1);
            const std::uint8_t* above = heights + static_cast<std::size_t>(up) * static_cast<std::size_t>(w);
            const std::uint8_t* row = heights + static_cast<std::size_t>(y) * static_cast<std::size_t>(w);
            const std::uint8_t* below = heights + static_cast<std::size_t>(down) * static_cast<std::size_t>(w);
            std::uint8_t* dst = out.rgba.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(w) * 4;
            for (int x = 0; x < w; ++x) {
                const auto l = static_cast<std::size_t>(left[static_cast<std::size_t>(x)]);
                const auto r = static_cast<std::size_t>(right[static_cast<std::size_t>(x)]);
                const auto c = static_cast<std::size_t>(x);
                const int gx = (above[r] + 2 * row[r] + below[r]) - (above[l] + 2 * row[l] + below[l]);
                const int gy = (below[l] + 2 * below[c] + below[r]) - (above[l] + 2 * above[c] + above[r]);
                const double nx = -gx * k;
                const double ny = ySign * gy * k;
                const double len = std::sqrt(nx * nx + ny * ny + 1.0);
                dst[c * 4] = toByte(nx / len);
                dst[c * 4 + 1] = toByte(ny / len);
                dst[c * 4 + 2] = toByte(1.0 / len);
                dst[c * 4 + 3] = 255;
            }
        }
    };
    if (textures::isLargePass(std::int64_t{w} * h))
        cv::parallel_for_(cv::Range(0, h), rows);
    else
        rows(cv::Range(0, h));
    return out;
}

NormalMapGenerator::Stem NormalMapGenerator::stem(const fs::path& url) {
    const std::string name = url.filename().stem().string();
    for (std::string_view suffix : kHeightSuffixes) {
        if (suffix.size() < name.size() && endsWithIgnoringCase(name, suffix))
            return {name.substr(0, name.size() - suffix.size()), true};
    }
    return {name, false};
}

bool NormalMapGenerator::hasNormalMap(const std::string& stem, const fs::path& folder) {
    std::error_code ec;
    fs::directory_iterator it(folder, ec);
    if (ec) return false;
    const std::string wanted = core::toLower(stem);
    const ChannelPacker packer;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) return false;
        const fs::path& entry = it->path();
        std::string ext = entry.extension().string();
        if (!ext.empty()) ext.erase(0, 1);
        if (!ChannelPacker::imageExtensions().count(core::toLower(ext))) continue;
        const auto normal = packer.identifyNormal(entry);
        if (normal && core::toLower(normal->stem) == wanted) return true;
    }
    return false;
}

} // namespace image
