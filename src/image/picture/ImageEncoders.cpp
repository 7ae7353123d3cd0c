#include "image/picture/ImageEncoders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <turbojpeg.h>

#include "image/picture/CodecSupport.h"

namespace image::detail {

namespace {

struct HeifEncoding {
    heif_context* context = newHeifContext();
    heif_encoder* encoder = nullptr;
    heif_image* image = nullptr;
    heif_image_handle* handle = nullptr;
    ~HeifEncoding() {
        if (handle) heif_image_handle_release(handle);
        if (image) heif_image_release(image);
        if (encoder) heif_encoder_release(encoder);
        heif_context_free(context);
    }
};

heif_error appendBytes(heif_context*, const void* data, size_t size, void* userdata) {
    auto* out = static_cast<std::vector<std::uint8_t>*>(userdata);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    out->insert(out->end(), bytes, bytes + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

void check(heif_error error) {
    if (error.code != heif_error_Ok) throw EncodeError(error.message ? error.message : "HEIF encoding failed");
}

bool opaque(const cv::Mat& rgba8) {
    cv::Mat alpha;
    cv::extractChannel(rgba8, alpha, 3);
    double lowest = 0;
    cv::minMaxLoc(alpha, &lowest);
    return lowest >= 255.0;
}

} // namespace

cv::Mat to8Bit(const cv::Mat& rgba) {
    cv::Mat out;
    switch (rgba.depth()) {
    case CV_8U:
        return rgba;
    case CV_16U:
        rgba.convertTo(out, CV_8U, 1.0 / 257.0);
        return out;
    default:
        rgba.convertTo(out, CV_8U, 255.0);
        return out;
    }
}

void setWrittenSize(ImageMetadata& metadata, int width, int height) {
    if (metadata.exif.empty()) return;
    metadata.exif["Exif.Photo.PixelXDimension"] = static_cast<std::uint32_t>(width);
    metadata.exif["Exif.Photo.PixelYDimension"] = static_cast<std::uint32_t>(height);
}

std::vector<std::uint8_t> encodeJpeg(const cv::Mat& rgba, double quality) {
    cv::Mat pixels = to8Bit(rgba);
    if (!opaque(pixels)) {
        // JPEG has no alpha: what shows is the colour over black.
        cv::Mat flat = pixels.clone();
        flat.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) {
            for (int c = 0; c < 3; ++c) p[c] = static_cast<std::uint8_t>((p[c] * p[3] + 127) / 255);
            p[3] = 255;
        });
        pixels = flat;
    }
    if (!pixels.isContinuous()) pixels = pixels.clone();
    tjhandle tj = tjInitCompress();
    if (!tj) throw EncodeError("TurboJPEG could not be started");
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    const int q = std::clamp(static_cast<int>(std::lround(quality * 100.0)), 1, 100);
    const int result = tjCompress2(tj, pixels.data, pixels.cols, static_cast<int>(pixels.step), pixels.rows, TJPF_RGBA,
                                   &buffer, &size, TJSAMP_420, q, 0);
    std::string reason = result != 0 ? tjGetErrorStr2(tj) : "";
    tjDestroy(tj);
    if (result != 0) {
        tjFree(buffer);
        throw EncodeError(reason);
    }
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    tjFree(buffer);
    return bytes;
}

std::vector<std::uint8_t> encodeWithOpenCV(const cv::Mat& rgba, const char* extension) {
    cv::Mat bgra;
    cv::Mat samples = rgba;
    if (std::string_view(extension) == ".png" && rgba.depth() == CV_32F) samples = to8Bit(rgba);
    cv::cvtColor(samples, bgra, cv::COLOR_RGBA2BGRA);
    std::vector<std::uint8_t> bytes;
    try {
        if (!openCVEncode(extension, bgra, bytes)) throw EncodeError(std::string("could not encode ") + extension);
    } catch (const cv::Exception& e) {
        throw EncodeError(e.what());
    }
    return bytes;
}

std::vector<std::uint8_t> encodeHeif(const cv::Mat& rgba, double quality, const ImageMetadata& metadata) {
    const cv::Mat pixels = to8Bit(rgba);
    const bool withAlpha = !opaque(pixels);
    HeifEncoding heif;
    check(heif_context_get_encoder_for_format(heif.context, heif_compression_HEVC, &heif.encoder));
    check(heif_encoder_set_lossy_quality(heif.encoder, std::clamp(static_cast<int>(std::lround(quality * 100.0)), 0, 100)));
    const auto chroma = withAlpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
    check(heif_image_create(pixels.cols, pixels.rows, heif_colorspace_RGB, chroma, &heif.image));
    check(heif_image_add_plane(heif.image, heif_channel_interleaved, pixels.cols, pixels.rows, 8));
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(heif.image, heif_channel_interleaved, &stride);
    const cv::Mat target(pixels.rows, pixels.cols, withAlpha ? CV_8UC4 : CV_8UC3, plane, static_cast<std::size_t>(stride));
    if (withAlpha)
        pixels.copyTo(target);
    else
        cv::cvtColor(pixels, target, cv::COLOR_RGBA2RGB);
    if (describesRGB(metadata.icc))
        check(heif_image_set_raw_color_profile(heif.image, "prof", metadata.icc.data(), metadata.icc.size()));
    check(heif_context_encode_image(heif.context, heif.image, heif.encoder, nullptr, &heif.handle));
    if (!metadata.exif.empty()) {
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, Exiv2::bigEndian, metadata.exif);
        if (!blob.empty())
            check(heif_context_add_exif_metadata(heif.context, heif.handle, blob.data(), static_cast<int>(blob.size())));
    }
    if (!metadata.xmp.empty()) {
        std::string packet;
        const auto xmp = lockXmpToolkit();
        declareOwnXmpPrefixes(metadata.xmp);
        if (Exiv2::XmpParser::encode(packet, metadata.xmp, Exiv2::XmpParser::omitPacketWrapper) == 0 && !packet.empty())
            check(heif_context_add_XMP_metadata(heif.context, heif.handle, packet.data(), static_cast<int>(packet.size())));
    }
    std::vector<std::uint8_t> bytes;
    heif_writer writer{1, appendBytes};
    check(heif_context_write(heif.context, &writer, &bytes));
    return bytes;
}

bool canEncodeHeif() {
    startHeif();
    return heif_have_encoder_for_format(heif_compression_HEVC) != 0;
}

} // namespace image::detail
