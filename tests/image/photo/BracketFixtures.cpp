#include "BracketFixtures.h"

#include <cmath>
#include <memory>
#include <stdexcept>
#include <vector>

#include <exiv2/exiv2.hpp>
#include <fmt/format.h>
#include <libheif/heif.h>
#include <gtest/gtest.h>
#include <turbojpeg.h>
#include <opencv2/imgproc.hpp>

#include "core/Files.h"

namespace bracketfixtures {

#if defined(__SANITIZE_THREAD__)
namespace {
// Under ThreadSanitizer OpenCV runs its loops on the calling thread: its TBB
// pool isn't instrumented and is reported when it shuts down.
struct SequentialOpenCV : ::testing::Environment {
    void SetUp() override { cv::setNumThreads(0); }
};
const auto* const kSequentialOpenCV = ::testing::AddGlobalTestEnvironment(new SequentialOpenCV);
} // namespace
#endif

std::string dateAt(int seconds) { return fmt::format("2024:05:06 10:00:{:02}", seconds); }

double timeForStops(double stops) { return 0.01 * std::pow(2.0, stops); }

namespace {

Exiv2::URational rational(double value) {
    return {static_cast<std::uint32_t>(std::llround(value * 1e6)), 1000000u};
}

void fill(Exiv2::ExifData& exif, const Capture& c) {
    if (c.date) exif["Exif.Photo.DateTimeOriginal"] = *c.date;
    if (c.subSeconds) exif["Exif.Photo.SubSecTimeOriginal"] = *c.subSeconds;
    if (c.exposureTime) exif["Exif.Photo.ExposureTime"] = rational(*c.exposureTime);
    if (c.fNumber) exif["Exif.Photo.FNumber"] = rational(*c.fNumber);
    if (c.iso) exif["Exif.Photo.ISOSpeedRatings"] = static_cast<std::uint16_t>(*c.iso);
    if (c.orientation) exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(*c.orientation);
    exif["Exif.Photo.ExposureBiasValue"] = Exiv2::Rational(0, 1);
    exif["Exif.Image.Make"] = "Fixture";
}

cv::Mat gradient(int width, int height) {
    cv::Mat rgba(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rgba.at<cv::Vec4b>(y, x) = cv::Vec4b(static_cast<uchar>(x * 255 / std::max(width - 1, 1)),
                                                 static_cast<uchar>(y * 255 / std::max(height - 1, 1)), 128, 255);
    return rgba;
}

} // namespace

void setExif(const fs::path& file, const Capture& capture) {
    auto image = Exiv2::ImageFactory::open(file.string());
    image->readMetadata();
    Exiv2::ExifData exif = image->exifData();
    fill(exif, capture);
    image->setExifData(exif);
    image->writeMetadata();
}

void writeJpeg(const fs::path& file, const cv::Mat& rgba, const Capture& capture) {
    // libjpeg-turbo directly: OpenCV's imwrite starts GDAL, whose first-use
    // locking ThreadSanitizer reports.
    const cv::Mat pixels = rgba.isContinuous() ? rgba : rgba.clone();
    std::unique_ptr<void, decltype(&tjDestroy)> tj(tjInitCompress(), tjDestroy);
    unsigned char* jpeg = nullptr;
    unsigned long size = 0;
    if (!tj || tjCompress2(tj.get(), pixels.data, pixels.cols, 0, pixels.rows, TJPF_RGBA, &jpeg, &size, TJSAMP_444, 95,
                           0) != 0)
        throw std::runtime_error("cannot encode " + file.string());
    std::unique_ptr<unsigned char, decltype(&tjFree)> owned(jpeg, tjFree);
    core::writeFileAtomically(file, std::string_view(reinterpret_cast<const char*>(jpeg), size));
    setExif(file, capture);
}

void writeJpeg(const fs::path& file, const Capture& capture, int width, int height) {
    writeJpeg(file, gradient(width, height), capture);
}

bool canWriteHeic() { return heif_have_encoder_for_format(heif_compression_HEVC) != 0; }

void writeHeic(const fs::path& file, const Capture& capture, int width, int height) {
    auto check = [](heif_error e) {
        if (e.code != heif_error_Ok) throw std::runtime_error(e.message);
    };
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx(heif_context_alloc(), heif_context_free);
    heif_encoder* encoder = nullptr;
    check(heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &encoder));
    heif_encoder_set_lossy_quality(encoder, 80);
    heif_image* img = nullptr;
    check(heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &img));
    check(heif_image_add_plane(img, heif_channel_interleaved, width, height, 8));
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(img, heif_channel_interleaved, &stride);
    const cv::Mat rgba = gradient(width, height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) plane[y * stride + 3 * x + c] = rgba.at<cv::Vec4b>(y, x)[c];
    heif_image_handle* handle = nullptr;
    check(heif_context_encode_image(ctx.get(), img, encoder, nullptr, &handle));

    Exiv2::ExifData exif;
    fill(exif, capture);
    Exiv2::Blob tiff;
    Exiv2::ExifParser::encode(tiff, Exiv2::littleEndian, exif);
    check(heif_context_add_exif_metadata(ctx.get(), handle, tiff.data(), static_cast<int>(tiff.size())));
    check(heif_context_write_to_file(ctx.get(), file.c_str()));
    heif_image_handle_release(handle);
    heif_image_release(img);
    heif_encoder_release(encoder);
}

void shiftModificationTime(const fs::path& file, std::chrono::seconds seconds) {
    fs::last_write_time(file, fs::last_write_time(file) + seconds);
}

cv::Mat scene(int width, int height, unsigned seed, double gain) {
    cv::RNG rng(seed);
    cv::Mat base(height, width, CV_32FC3, cv::Scalar::all(0));
    for (int octave : {48, 12, 3}) {
        cv::Mat coarse(std::max(height / octave, 2), std::max(width / octave, 2), CV_32FC3);
        rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
        cv::Mat fine;
        cv::resize(coarse, fine, base.size(), 0, 0, cv::INTER_CUBIC);
        base += fine * (octave == 48 ? 0.5 : octave == 12 ? 0.35 : 0.15);
    }
    cv::Mat rgba(height, width, CV_8UC4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const cv::Vec3f v = base.at<cv::Vec3f>(y, x);
            cv::Vec4b& p = rgba.at<cv::Vec4b>(y, x);
            for (int c = 0; c < 3; ++c) p[c] = cv::saturate_cast<uchar>(255.0 * gain * (0.15 + 0.7 * v[c]));
            p[3] = 255;
        }
    return rgba;
}

} // namespace bracketfixtures
