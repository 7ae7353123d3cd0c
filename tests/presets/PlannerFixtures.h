#pragma once

// Inputs for the output-planner tests: items, configurations and real image
// files written with the image engine's own writers.

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "batch/BatchConfiguration.h"
#include "batch/BatchItem.h"
#include "core/Files.h"
#include "core/Uuid.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/texture/PackedTexture.h"

namespace plannertest {

namespace fs = std::filesystem;

inline std::vector<batch::BatchItem> itemsOf(const std::vector<fs::path>& files) {
    std::vector<batch::BatchItem> items;
    for (const auto& f : files) items.emplace_back(core::Uuid::random(), f);
    return items;
}

inline batch::BatchConfiguration configurationFor(const fs::path& output, const std::string& pattern) {
    batch::BatchConfiguration c;
    c.outputDirectory = output;
    c.namingPattern = pattern;
    return c;
}

// An RGBA PNG whose pixels come from f(x, y) (the same value in R, G, B).
inline void writePng(const fs::path& path, int width, int height,
                     const std::function<std::uint8_t(int, int)>& f) {
    image::PackedTexture t{width, height, {}};
    t.rgba.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const std::uint8_t v = f(x, y);
            t.rgba.insert(t.rgba.end(), {v, v, static_cast<std::uint8_t>(255 - v), 255});
        }
    t.writePNG(path);
}

// A texture whose opposite edges meet without a step (one sine period).
inline void writeSeamlessPng(const fs::path& path, int size = 64) {
    writePng(path, size, size, [size](int x, int y) {
        const double a = 2 * M_PI * x / size, b = 2 * M_PI * y / size;
        return static_cast<std::uint8_t>(std::lround(127.5 + 60 * std::sin(a) + 60 * std::cos(b)));
    });
}

// A horizontal ramp: dark on the left, bright on the right, a seam when tiled.
inline void writeRampPng(const fs::path& path, int width = 64, int height = 64) {
    writePng(path, width, height, [width](int x, int) { return static_cast<std::uint8_t>(x * 255 / (width - 1)); });
}

// A JPEG of a smooth gradient, brightness scaled by gain.
inline void writeJpeg(const fs::path& path, int width, int height, double gain = 1.0) {
    cv::Mat rgba(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const double v = std::min(255.0, gain * (40 + 150.0 * (x + y) / (width + height)));
            const auto b = static_cast<std::uint8_t>(std::lround(v));
            rgba.at<cv::Vec4b>(y, x) = {b, b, b, 255};
        }
    image::Image picture;
    picture.pixels = rgba;
    image::CoreImagePipeline::shared().write(picture, path, 0.9);
}

} // namespace plannertest
