#pragma once

// Photos for the bracket tests: JPEG (OpenCV) or HEIC (libheif) files whose
// capture EXIF is written with Exiv2, and synthetic RGBA pictures.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include <opencv2/core.hpp>

namespace bracketfixtures {

namespace fs = std::filesystem;

struct Capture {
    std::optional<std::string> date = "2024:05:06 10:00:00"; // DateTimeOriginal
    std::optional<std::string> subSeconds;                   // SubSecTimeOriginal
    std::optional<double> exposureTime = 0.01;               // seconds
    std::optional<double> fNumber;
    std::optional<int> iso;
    std::optional<int> orientation;
};

// "2024:05:06 10:00:SS" for a capture `seconds` after 10:00:00 (below 60).
std::string dateAt(int seconds);
// The exposure time `stops` stops brighter than 1/100 s (same aperture, ISO):
// exposure value EV(1/100 s) - stops.
double timeForStops(double stops);

void setExif(const fs::path& file, const Capture& capture);
// A small JPEG (grey gradient) of the given size carrying `capture`.
void writeJpeg(const fs::path& file, const Capture& capture, int width = 64, int height = 48);
// Writes RGBA pixels as a JPEG (quality 95) carrying `capture`.
void writeJpeg(const fs::path& file, const cv::Mat& rgba, const Capture& capture);
// True when libheif has an HEVC encoder here.
bool canWriteHeic();
// A small HEIC of the given size whose Exif block carries `capture`.
void writeHeic(const fs::path& file, const Capture& capture, int width = 64, int height = 48);

// A file's modification time moved `seconds` from what it is.
void shiftModificationTime(const fs::path& file, std::chrono::seconds seconds);

// A textured, smoothly varying RGBA picture (random blobs over gradients),
// reproducible from `seed`; `gain` scales its brightness.
cv::Mat scene(int width, int height, unsigned seed = 1, double gain = 1.0);

} // namespace bracketfixtures
