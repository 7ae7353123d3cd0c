#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include <opencv2/core.hpp>

namespace texturetest {

namespace fs = std::filesystem;

// Writes a PNG with libpng: `pixels` is gray, gray+alpha, RGB or RGBA (in
// that channel order), 8- or 16-bit; `icc` (when given) is embedded as the
// file's colour profile.
void writePng(const fs::path& path, const cv::Mat& pixels, const std::vector<std::uint8_t>& icc = {});

// An 8-bit gray picture from a function of (x, y).
cv::Mat grayImage(int width, int height, const std::function<std::uint8_t(int, int)>& value);
// A one-colour 8-bit picture with 3 (RGB) or 4 (RGBA) channels.
cv::Mat solidImage(int width, int height, cv::Scalar rgba, int channels);

// A half-float RGBA OpenEXR file where every pixel is `value` in R, G and B.
void writeExr(const fs::path& path, int width, int height, float value);

// An RGB profile with linear (gamma 1.0) curves: any conversion through it
// visibly changes mid-tones.
std::vector<std::uint8_t> linearRgbProfile();

// Converts `from` with ImageMagick (convert-im6.q16) into the format the
// name of `to` says.
void convertWithImageMagick(const fs::path& from, const fs::path& to, const std::vector<std::string>& options = {});

// The bytes of channel `c` (0..3) of every pixel of an RGBA buffer.
std::vector<std::uint8_t> channelOf(const std::vector<std::uint8_t>& rgba, int c);

// A file that is not an image.
void writeText(const fs::path& path, const char* text = "not an image");

} // namespace texturetest
