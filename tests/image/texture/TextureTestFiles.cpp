#include "TextureTestFiles.h"

#include <csetjmp>
#include <cstdio>
#include <fstream>

#include <ImfRgbaFile.h>
#include <gtest/gtest.h>
#include <lcms2.h>
#include <png.h>

#include "support/TestSupport.h"

namespace texturetest {

namespace {

bool pngRows(png_structp png, png_infop info, FILE* file, png_bytepp rows, const cv::Mat* pixels,
             const std::vector<std::uint8_t>* icc) {
    static constexpr int kTypes[] = {PNG_COLOR_TYPE_GRAY, PNG_COLOR_TYPE_GRAY_ALPHA, PNG_COLOR_TYPE_RGB,
                                     PNG_COLOR_TYPE_RGB_ALPHA};
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    const int depth = pixels->depth() == CV_16U ? 16 : 8;
    png_set_IHDR(png, info, static_cast<png_uint_32>(pixels->cols), static_cast<png_uint_32>(pixels->rows), depth,
                 kTypes[pixels->channels() - 1], PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, 1);
    if (!icc->empty())
        png_set_iCCP(png, info, "test", PNG_COMPRESSION_TYPE_BASE, icc->data(), static_cast<png_uint_32>(icc->size()));
    png_write_info(png, info);
    if (depth == 16) png_set_swap(png);
    png_write_image(png, rows);
    png_write_end(png, info);
    return true;
}

} // namespace

void writePng(const fs::path& path, const cv::Mat& pixels, const std::vector<std::uint8_t>& icc) {
    ASSERT_TRUE(pixels.depth() == CV_8U || pixels.depth() == CV_16U);
    cv::Mat continuous = pixels.clone();
    std::vector<png_bytep> rows(static_cast<std::size_t>(continuous.rows));
    for (int y = 0; y < continuous.rows; ++y) rows[static_cast<std::size_t>(y)] = continuous.ptr<png_byte>(y);
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    const bool ok = pngRows(png, info, file, rows.data(), &continuous, &icc);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    ASSERT_TRUE(ok) << "libpng could not write " << path;
}

cv::Mat grayImage(int width, int height, const std::function<std::uint8_t(int, int)>& value) {
    cv::Mat out(height, width, CV_8UC1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) out.at<std::uint8_t>(y, x) = value(x, y);
    return out;
}

cv::Mat solidImage(int width, int height, cv::Scalar rgba, int channels) {
    return cv::Mat(height, width, CV_8UC(channels), rgba);
}

void writeExr(const fs::path& path, int width, int height, float value) {
    std::vector<Imf::Rgba> pixels(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                                  Imf::Rgba(value, value, value, 1.0f));
    Imf::RgbaOutputFile file(path.c_str(), width, height, Imf::WRITE_RGBA);
    file.setFrameBuffer(pixels.data(), 1, static_cast<std::size_t>(width));
    file.writePixels(height);
}

std::vector<std::uint8_t> linearRgbProfile() {
    cmsCIExyY white;
    cmsWhitePointFromTemp(&white, 6504);
    const cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* linear = cmsBuildGamma(nullptr, 1.0);
    cmsToneCurve* curves[3] = {linear, linear, linear};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(linear);
    return bytes;
}

void convertWithImageMagick(const fs::path& from, const fs::path& to, const std::vector<std::string>& options) {
    std::vector<std::string> argv = {"convert-im6.q16", from.string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(to.string());
    testsupport::runTool(argv);
}

std::vector<std::uint8_t> channelOf(const std::vector<std::uint8_t>& rgba, int c) {
    std::vector<std::uint8_t> out;
    out.reserve(rgba.size() / 4);
    for (std::size_t i = static_cast<std::size_t>(c); i < rgba.size(); i += 4) out.push_back(rgba[i]);
    return out;
}

void writeText(const fs::path& path, const char* text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

} // namespace texturetest
