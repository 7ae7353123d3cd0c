#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include <opencv2/core.hpp>

namespace image::textures {

// Texture maps are data: the first picture of the file as stored (no
// orientation, no colour conversion), RGBA at the file's depth. Throws
// PackingError::cannotRead with the reason when the file gives no picture,
// ImageReadError when it is damaged or too large for the memory; nothing
// when its samples can't be made RGBA.
std::optional<cv::Mat> decodeTexture(const std::filesystem::path& url);

// The picture (RGBA, 8-bit, 16-bit or float) at width x height as 8-bit
// RGBA: resampled band by band when the size differs, 16-bit samples scaled
// by rounding, float samples clamped to 0...1. Empty for an empty target.
cv::Mat rgba8At(const cv::Mat& pixels, int width, int height);

// Rounds a positive side to the nearest whole number, halves away from
// zero, at least 1.
int roundedSide(double side);

// Whether a pass over this many pixels is worth spreading over threads.
inline bool isLargePass(std::int64_t pixels) { return pixels >= 512 * 512; }

} // namespace image::textures
