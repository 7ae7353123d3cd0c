#pragma once

// Frame pictures for the sprite-sheet tests: generated ones, PNG files and
// real icons from the system's icon themes.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "image/sprite/RGBAImage.h"

namespace spritetest {

namespace fs = std::filesystem;
using image::RGBAImage;

struct Pixel {
    std::uint8_t r = 0, g = 0, b = 0, a = 0;
};

inline RGBAImage makeFrame(int w, int h, const std::function<Pixel(int, int)>& fn) {
    RGBAImage img;
    img.width = w;
    img.height = h;
    img.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Pixel p = fn(x, y);
            auto* d = img.pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)) * 4;
            d[0] = p.r;
            d[1] = p.g;
            d[2] = p.b;
            d[3] = p.a;
        }
    return img;
}

inline Pixel pixelAt(const RGBAImage& img, int x, int y) {
    const auto* d = img.pixels.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(img.width) + static_cast<std::size_t>(x)) * 4;
    return {d[0], d[1], d[2], d[3]};
}

// A ring with soft (anti-aliased) inner and outer edges, a transparent
// centre and colours that change around it; `seed` varies the colours.
inline RGBAImage softRing(int w, int h, int seed) {
    return makeFrame(w, h, [&](int x, int y) {
        const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
        const double r = std::hypot((x - cx) / (w / 2.0), (y - cy) / (h / 2.0));
        // Coverage of the band 0.45..0.85 of the half size, soft over ~2 px.
        const double px = 2.0 / std::max(1, std::min(w, h));
        const double inner = std::clamp((r - 0.45) / px + 0.5, 0.0, 1.0);
        const double outer = std::clamp((0.85 - r) / px + 0.5, 0.0, 1.0);
        const auto a = static_cast<std::uint8_t>(std::lround(255 * inner * outer));
        if (a == 0) return Pixel{static_cast<std::uint8_t>(seed * 37), 200, 13, 0}; // hidden colour under alpha 0
        return Pixel{static_cast<std::uint8_t>((x * 7 + seed * 29) & 255), static_cast<std::uint8_t>((y * 5 + seed * 11) & 255),
                     static_cast<std::uint8_t>((x + y + seed) & 255), a};
    });
}

inline void writePng(const fs::path& path, const RGBAImage& img) {
    cv::Mat bgra;
    cv::cvtColor(img.toMat(), bgra, cv::COLOR_RGBA2BGRA);
    cv::imwrite(path.string(), bgra);
}

// An 8-bit RGBA PNG read independently of the engine's decoders.
inline std::optional<RGBAImage> readPng(const fs::path& path) {
    cv::Mat m = cv::imread(path.string(), cv::IMREAD_UNCHANGED);
    if (m.empty() || m.depth() != CV_8U || m.channels() != 4) return std::nullopt;
    cv::Mat rgba;
    cv::cvtColor(m, rgba, cv::COLOR_BGRA2RGBA);
    return RGBAImage::fromMat(rgba);
}

// Up to `count` PNG icons of the system's themes that are 8-bit RGBA and at
// most `maxSide` pixels, in path order, taken evenly across the sizes found.
inline std::vector<fs::path> systemIcons(std::size_t count, int maxSide = 128) {
    std::vector<fs::path> all;
    for (const char* root : {"/usr/share/icons/Adwaita", "/usr/share/icons/hicolor", "/usr/share/pixmaps"}) {
        std::error_code ec;
        if (!fs::is_directory(root, ec)) continue;
        for (fs::recursive_directory_iterator it(root, ec), end; it != end; it.increment(ec)) {
            if (ec) break;
            if (it->is_regular_file(ec) && it->path().extension() == ".png") all.push_back(it->path());
        }
    }
    std::sort(all.begin(), all.end());
    std::vector<fs::path> picked;
    const std::size_t step = std::max<std::size_t>(1, all.size() / std::max<std::size_t>(1, count * 2));
    for (std::size_t i = 0; i < all.size() && picked.size() < count; i += step) {
        auto img = readPng(all[i]);
        if (!img || img->width > maxSide || img->height > maxSide) continue;
        const auto bounds = img->opaqueBounds();
        if (!bounds) continue;
        picked.push_back(all[i]);
    }
    return picked;
}

inline std::string python() { return fs::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }

} // namespace spritetest
