#pragma once

// Fixture pictures for the image core's tests, made with the libraries.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

namespace coretest {

namespace fs = std::filesystem;

// A w x h RGBA picture, blue with a red block in the top-left corner.
cv::Mat markedPicture(int width, int height);

// Where the red block is in an RGBA picture: 0 top-left, 1 top-right,
// 2 bottom-right, 3 bottom-left; -1 when no corner is red.
int redCorner(const cv::Mat& rgba);

// Writes RGBA as a JPEG (quality 95) through OpenCV.
void writeJpeg(const fs::path& path, const cv::Mat& rgba);

// How libjpeg is to store the samples of writeLibjpeg.
enum class JpegStorage {
    cmykWithAdobeMarker, // CMYK as given, with an Adobe marker (transform 0)
    cmykWithoutMarker,   // CMYK as given, no Adobe marker
    unknown,             // as many components as given, no colour model
};

// Writes 8-bit samples (1 to 4 channels, stored as they come) as a JPEG
// with libjpeg itself, quality 100.
void writeLibjpeg(const fs::path& path, const cv::Mat& samples, JpegStorage storage);

// A HEIC of the marked picture stored turned, with libheif's image
// orientation and an EXIF orientation of the same value.
void writeTurnedHeic(const fs::path& path, int width, int height, int orientation);

// A minimal 16-bit CFA DNG written with libtiff, with the given orientation.
void writeCfaDng(const fs::path& path, int width, int height, int orientation);

std::vector<std::uint8_t> fileBytes(const fs::path& path);

// `count` JPEGs of the marked picture in `dir`, photo<i>.jpg, each carrying
// an XMP packet (written by exiftool) in a namespace of its own: property
// xmpLabelKey(i) with the value xmpLabel(i).
std::vector<fs::path> writeJpegsWithOwnXmp(const fs::path& dir, int count, int width, int height);
std::string xmpLabelKey(int i);
std::string xmpLabel(int i);

// exiftool's value of one tag (-n, numeric), trimmed; empty when absent.
std::string exifTag(const fs::path& path, const std::string& tag);

} // namespace coretest
