#include "CoreImageFixtures.h"

#include <gtest/gtest.h>

#include <cstdio> // jpeglib.h needs FILE
#include <cstdlib>
#include <stdexcept>

#include <fmt/format.h>

#include <exiv2/exiv2.hpp>
#include <jpeglib.h>
#include <libheif/heif.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <tiffio.h>

#include "core/Files.h"
#include "support/TestSupport.h"

namespace coretest {

cv::Mat markedPicture(int width, int height) {
    cv::Mat rgba(height, width, CV_8UC4, cv::Scalar(0, 0, 255, 255));
    rgba(cv::Rect(0, 0, width / 4, height / 4)).setTo(cv::Scalar(255, 0, 0, 255));
    return rgba;
}

int redCorner(const cv::Mat& rgba) {
    const int w = rgba.cols, h = rgba.rows;
    const cv::Point corners[4] = {{2, 2}, {w - 3, 2}, {w - 3, h - 3}, {2, h - 3}};
    for (int i = 0; i < 4; ++i) {
        const cv::Vec4b p = rgba.at<cv::Vec4b>(corners[i]);
        if (p[0] > 180 && p[2] < 80) return i;
    }
    return -1;
}

void writeJpeg(const fs::path& path, const cv::Mat& rgba) {
    cv::Mat bgr;
    cv::cvtColor(rgba, bgr, cv::COLOR_RGBA2BGR);
    if (!cv::imwrite(path.string(), bgr, {cv::IMWRITE_JPEG_QUALITY, 95})) throw std::runtime_error("imwrite");
}

void writeLibjpeg(const fs::path& path, const cv::Mat& samples, JpegStorage storage) {
    ASSERT_EQ(samples.depth(), CV_8U);
    jpeg_compress_struct info{};
    jpeg_error_mgr errors{};
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = static_cast<JDIMENSION>(samples.cols);
    info.image_height = static_cast<JDIMENSION>(samples.rows);
    info.input_components = samples.channels();
    info.in_color_space = storage == JpegStorage::unknown ? JCS_UNKNOWN : JCS_CMYK;
    jpeg_set_defaults(&info);
    jpeg_set_colorspace(&info, info.in_color_space);
    info.write_Adobe_marker = storage == JpegStorage::cmykWithAdobeMarker ? TRUE : FALSE;
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(samples.ptr<std::uint8_t>(static_cast<int>(info.next_scanline)));
        jpeg_write_scanlines(&info, &row, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    core::writeFileAtomically(path, std::string_view(reinterpret_cast<const char*>(buffer), size));
    std::free(buffer);
}

void writeTurnedHeic(const fs::path& path, int width, int height, int orientation) {
    const cv::Mat rgba = markedPicture(width, height);
    heif_context* context = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    heif_context_get_encoder_for_format(context, heif_compression_HEVC, &encoder);
    ASSERT_NE(encoder, nullptr);
    heif_encoder_set_lossy_quality(encoder, 90);
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image);
    heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    cv::Mat target(height, width, CV_8UC3, plane, static_cast<std::size_t>(stride));
    cv::cvtColor(rgba, target, cv::COLOR_RGBA2RGB);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = static_cast<heif_orientation>(orientation);
    heif_image_handle* handle = nullptr;
    ASSERT_EQ(heif_context_encode_image(context, image, encoder, options, &handle).code, heif_error_Ok);
    Exiv2::ExifData exif;
    exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(orientation);
    exif["Exif.Image.Make"] = "Fixture";
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, exif);
    heif_context_add_exif_metadata(context, handle, blob.data(), static_cast<int>(blob.size()));
    ASSERT_EQ(heif_context_write_to_file(context, path.c_str()).code, heif_error_Ok);
    heif_encoding_options_free(options);
    heif_image_handle_release(handle);
    heif_image_release(image);
    heif_encoder_release(encoder);
    heif_context_free(context);
}

void writeCfaDng(const fs::path& path, int width, int height, int orientation) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    const std::uint8_t version[4] = {1, 4, 0, 0};
    const std::uint16_t repeat[2] = {2, 2};
    const std::uint8_t pattern[4] = {0, 1, 1, 2}; // RGGB
    const float matrix[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const float neutral[3] = {1, 1, 1};
    const std::uint32_t white[1] = {65535};
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 16);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, 32803); // CFA
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, orientation);
    TIFFSetField(tif, TIFFTAG_MAKE, "Fixture");
    TIFFSetField(tif, TIFFTAG_MODEL, "CFA One");
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, height);
    TIFFSetField(tif, TIFFTAG_CFAREPEATPATTERNDIM, repeat);
    TIFFSetField(tif, TIFFTAG_CFAPATTERN, 4, pattern);
    TIFFSetField(tif, TIFFTAG_DNGVERSION, version);
    TIFFSetField(tif, TIFFTAG_UNIQUECAMERAMODEL, "Fixture CFA One");
    TIFFSetField(tif, TIFFTAG_COLORMATRIX1, 9, matrix);
    TIFFSetField(tif, TIFFTAG_ASSHOTNEUTRAL, 3, neutral);
    TIFFSetField(tif, TIFFTAG_CALIBRATIONILLUMINANT1, 21);
    TIFFSetField(tif, TIFFTAG_WHITELEVEL, 1, white);
    std::vector<std::uint16_t> row(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) row[static_cast<std::size_t>(x)] = static_cast<std::uint16_t>(20000 + 100 * ((x + y) % 7));
        ASSERT_EQ(TIFFWriteScanline(tif, row.data(), static_cast<std::uint32_t>(y), 0), 1);
    }
    TIFFClose(tif);
}

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
    const std::string s = core::readFile(path);
    return {s.begin(), s.end()};
}

std::string exifTag(const fs::path& path, const std::string& tag) {
    const auto result = testsupport::runTool({"exiftool", "-s", "-s", "-s", "-n", "-" + tag, path.string()});
    std::string out = result.output;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

std::string xmpLabelKey(int i) { return fmt::format("Xmp.q{}.Label", i); }
std::string xmpLabel(int i) { return fmt::format("label {}", i); }

std::vector<fs::path> writeJpegsWithOwnXmp(const fs::path& dir, int count, int width, int height) {
    const auto plain = dir / "plain.jpg";
    writeJpeg(plain, markedPicture(width, height));
    std::vector<fs::path> photos;
    std::vector<std::pair<fs::path, std::string>> packets;
    for (int i = 0; i < count; ++i) {
        photos.push_back(dir / fmt::format("photo{}.jpg", i));
        fs::copy_file(plain, photos.back());
        packets.emplace_back(photos.back(),
                             fmt::format("<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
                                         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                                         "<rdf:Description rdf:about='' xmlns:q{0}='http://quorvel.test/ns/{0}/'>"
                                         "<q{0}:Label>{1}</q{0}:Label></rdf:Description></rdf:RDF></x:xmpmeta>",
                                         i, xmpLabel(i)));
    }
    testsupport::putXmpPackets(packets);
    return photos;
}

} // namespace coretest
