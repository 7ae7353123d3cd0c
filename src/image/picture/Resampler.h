#pragma once

#include <opencv2/core.hpp>

namespace image {

// How the alpha band relates to the colour bands while resampling.
enum class AlphaHandling {
    // Colour with alpha: resampled premultiplied, returned straight, so
    // transparent pixels don't bleed their colour into their neighbours.
    premultiplied,
    // Every band on its own (texture maps, where alpha is data).
    independent,
};

// The one resampler of the program: Lanczos-3 with pixel centres aligned
// (antialiased when shrinking), exact output size, edges clamped. Works on 1
// to 4 bands of 8-bit, 16-bit or float samples and returns the same type.
// Thread-safe. A 0-sized target or source gives an empty matrix.
cv::Mat resample(const cv::Mat& source, int width, int height,
                 AlphaHandling alpha = AlphaHandling::premultiplied);

// Every block of factor x factor pixels averaged into one (a box filter,
// for a quick first step before resample on a much smaller size); the
// source itself when factor is 1 or less. The sides are the source's
// divided by factor, rounded.
cv::Mat averageBlocks(const cv::Mat& source, int factor);

// Whether every sample of the last band (the alpha of gray-alpha or RGBA
// pixels) is at its full value: 255, 65535 or 1.0 by depth. Reads in place,
// on OpenCV's workers, and stops soon after a transparent pixel is found.
bool isOpaque(const cv::Mat& pixels);

// Marks one batch item (a photo, say) as being processed, for its lifetime.
// Items run side by side, and libvips gives each computation a pool of up
// to one thread per core: eight items would put 64 pixel threads on eight
// cores, beside OpenCV's pool. While several items run, a resample computes
// on max(1, cores / items running) threads instead; alone, on libvips'.
class ItemRunning {
public:
    ItemRunning();
    ~ItemRunning();
    ItemRunning(const ItemRunning&) = delete;
    ItemRunning& operator=(const ItemRunning&) = delete;
};

// Fixes how many threads libvips uses for one resample started afterwards,
// whatever runs; 0 (the start) returns to sharing the cores among the items
// running. Process-wide.
void setResampleThreads(int threads);

} // namespace image
