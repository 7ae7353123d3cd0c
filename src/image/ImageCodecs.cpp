#include "image/ImageCodecs.h"

#include <memory>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stb_image.h>
#include <turbojpeg.h>

#include "core/Error.h"
#include "core/Files.h"
#include "image/CodecSupport.h"
#include "image/ImageDecoders.h"
#include "image/PSDDecoder.h"

namespace image {

namespace {

using detail::Bytes;
using detail::FileKind;

struct TurboHandle {
    tjhandle handle = tjInitDecompress();
    ~TurboHandle() {
        if (handle) tjDestroy(handle);
    }
};

std::optional<cv::Mat> decodeOpenCV(Bytes bytes, int flags = cv::IMREAD_UNCHANGED) {
    try {
        const cv::Mat wrapped(1, static_cast<int>(bytes.size()), CV_8U, const_cast<std::uint8_t*>(bytes.data()));
        const cv::Mat decoded = cv::imdecode(wrapped, flags);
        if (decoded.empty()) return std::nullopt;
        return detail::toRGBA(decoded);
    } catch (const cv::Exception&) {
        return std::nullopt;
    }
}

std::optional<cv::Mat> decodeJpeg(Bytes bytes) {
    TurboHandle tj;
    if (!tj.handle) return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    auto* data = const_cast<unsigned char*>(bytes.data());
    const auto size = static_cast<unsigned long>(bytes.size());
    if (tjDecompressHeader3(tj.handle, data, size, &width, &height, &subsampling, &colorspace) != 0)
        return std::nullopt;
    if (colorspace == TJCS_CMYK || colorspace == TJCS_YCCK)
        return decodeOpenCV(bytes, cv::IMREAD_COLOR | cv::IMREAD_IGNORE_ORIENTATION);
    cv::Mat rgba(height, width, CV_8UC4);
    if (tjDecompress2(tj.handle, data, size, rgba.data, width, static_cast<int>(rgba.step), height, TJPF_RGBA, 0) != 0) {
        // Warnings (a truncated file) still leave a picture; errors don't.
        if (tjGetErrorCode(tj.handle) != TJERR_WARNING) return std::nullopt;
    }
    return rgba;
}

std::optional<cv::Mat> decodeStb(Bytes bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    const int length = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    if (stbi_is_16_bit_from_memory(bytes.data(), length)) {
        std::unique_ptr<stbi_us, void (*)(void*)> data(
            stbi_load_16_from_memory(bytes.data(), length, &width, &height, &channels, 4), stbi_image_free);
        if (!data) return std::nullopt;
        return cv::Mat(height, width, CV_16UC4, data.get()).clone();
    }
    std::unique_ptr<stbi_uc, void (*)(void*)> data(stbi_load_from_memory(bytes.data(), length, &width, &height, &channels, 4),
                                                   stbi_image_free);
    if (!data) return std::nullopt;
    return cv::Mat(height, width, CV_8UC4, data.get()).clone();
}

bool withinLimit(const PixelSize& size) {
    return size.width > 0 && size.height > 0 &&
           static_cast<std::int64_t>(size.width) * size.height <= kMaxImagePixels;
}

std::optional<Image> decode(Bytes bytes, const DecodeOptions& options) {
    const FileKind kind = detail::sniff(bytes);
    const auto size = detail::headerPixelSize(bytes, kind);
    if (!size || !withinLimit(*size)) return std::nullopt;
    detail::startExiv2();

    std::optional<Image> image;
    // libheif and LibRaw hand the picture over already turned.
    bool turnedByDecoder = false;
    auto plain = [&](std::optional<cv::Mat> pixels) {
        if (!pixels) return;
        image = Image{std::move(*pixels), {}};
        if (auto metadata = detail::readExiv2Metadata(bytes)) image->metadata = std::move(*metadata);
    };
    switch (kind) {
    case FileKind::jpeg:
        plain(decodeJpeg(bytes));
        break;
    case FileKind::heif:
        image = detail::decodeHeif(bytes, options.upright);
        turnedByDecoder = true;
        break;
    case FileKind::cameraRaw:
        image = detail::decodeRaw(bytes, options.upright);
        turnedByDecoder = true;
        break;
    case FileKind::dngOrTiffRaw:
        image = detail::decodeRaw(bytes, options.upright);
        turnedByDecoder = image.has_value();
        if (!image) plain(decodeOpenCV(bytes));
        break;
    case FileKind::exr:
        image = detail::decodeExr(bytes);
        break;
    case FileKind::png:
    case FileKind::tiff:
    case FileKind::bmp:
    case FileKind::webp:
        plain(decodeOpenCV(bytes));
        break;
    case FileKind::psd:
        plain(detail::decodePsd(bytes));
        break;
    case FileKind::gif:
        plain(decodeStb(bytes));
        break;
    case FileKind::unknown:
        plain(decodeOpenCV(bytes));
        if (!image) plain(decodeStb(bytes));
        break;
    }
    if (!image || image->pixels.empty()) return std::nullopt;

    if (options.upright) {
        if (!turnedByDecoder)
            image->pixels = detail::applyOrientation(image->pixels, detail::orientationOf(image->metadata));
        detail::setUpright(image->metadata);
    }
    if (options.toSRGB && kind != FileKind::exr) {
        if (detail::convertToSRGB(image->pixels, image->metadata.icc)) image->metadata.icc.clear();
    }
    if (!options.readMetadata) image->metadata = {};
    if (!image->pixels.isContinuous()) image->pixels = image->pixels.clone();
    return image;
}

std::optional<std::string> readWholeFile(const std::filesystem::path& path) {
    try {
        return core::readFile(path);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

Bytes asBytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

} // namespace

std::optional<Image> decodeImageFile(const std::filesystem::path& path, const DecodeOptions& options) {
    const auto contents = readWholeFile(path);
    if (!contents) return std::nullopt;
    return decode(asBytes(*contents), options);
}

std::optional<Image> decodeImageData(const std::vector<std::uint8_t>& bytes, const DecodeOptions& options) {
    return decode(Bytes(bytes.data(), bytes.size()), options);
}

std::optional<PixelSize> readPixelSize(const std::filesystem::path& path) {
    const auto contents = readWholeFile(path);
    if (!contents) return std::nullopt;
    const Bytes bytes = asBytes(*contents);
    return detail::headerPixelSize(bytes, detail::sniff(bytes));
}

std::optional<ImageMetadata> readMetadata(const std::filesystem::path& path) {
    const auto contents = readWholeFile(path);
    if (!contents) return std::nullopt;
    const Bytes bytes = asBytes(*contents);
    if (detail::sniff(bytes) == FileKind::heif) return detail::heifMetadata(bytes);
    return detail::readExiv2Metadata(bytes);
}

} // namespace image
