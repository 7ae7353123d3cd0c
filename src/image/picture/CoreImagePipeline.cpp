#include "image/picture/CoreImagePipeline.h"

#include <cmath>
#include <string>

#include <exiv2/exiv2.hpp>

#include "core/Files.h"
#include "image/picture/CodecSupport.h"
#include "image/picture/ImageEncoders.h"
#include "image/picture/Resampler.h"

namespace image {

namespace {

enum class Writer { png, heif, tiff, jpeg };

// The writer the file's extension names; anything unknown is JPEG.
Writer writerFor(const std::filesystem::path& url) {
    std::string ext = url.extension().string();
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (ext == ".png") return Writer::png;
    if (ext == ".heic" || ext == ".heif") return Writer::heif;
    if (ext == ".tiff" || ext == ".tif") return Writer::tiff;
    return Writer::jpeg;
}

template <typename Data, typename Key>
void eraseKey(Data& data, const char* name) {
    auto it = data.findKey(Key(name));
    while (it != data.end()) {
        data.erase(it);
        it = data.findKey(Key(name));
    }
}

// Metadata as it is stored with upright pixels of the given size.
ImageMetadata writtenMetadata(const Image& image, const ImageMetadata* properties) {
    ImageMetadata metadata = CoreImagePipeline::uprightProperties(properties ? *properties : image.metadata);
    detail::setWrittenSize(metadata, image.width(), image.height());
    return metadata;
}

std::vector<std::uint8_t> withMetadata(std::vector<std::uint8_t> encoded, const ImageMetadata& metadata) {
    if (metadata.empty()) return encoded;
    return detail::embedMetadata(encoded, metadata);
}

} // namespace

CoreImagePipeline::CoreImagePipeline() { detail::startExiv2(); }

const CoreImagePipeline& CoreImagePipeline::shared() {
    static const CoreImagePipeline instance;
    return instance;
}

std::optional<Image> CoreImagePipeline::loadImage(const std::filesystem::path& url) const {
    return decodeImageFile(url, DecodeOptions{});
}

Image CoreImagePipeline::loadImageOrFail(const std::filesystem::path& url) const {
    return loadImageFile(url, DecodeOptions{});
}

ImageMetadata CoreImagePipeline::uprightProperties(ImageMetadata properties) {
    detail::startExiv2();
    properties.exif["Exif.Image.Orientation"] = std::uint16_t{1};
    if (!properties.xmp.empty()) properties.xmp["Xmp.tiff.Orientation"] = "1";
    for (const char* key : {"Exif.Photo.PixelXDimension", "Exif.Photo.PixelYDimension", "Exif.Image.ImageWidth",
                            "Exif.Image.ImageLength"})
        eraseKey<Exiv2::ExifData, Exiv2::ExifKey>(properties.exif, key);
    for (const char* key : {"Xmp.exif.PixelXDimension", "Xmp.exif.PixelYDimension", "Xmp.tiff.ImageWidth",
                            "Xmp.tiff.ImageLength"})
        eraseKey<Exiv2::XmpData, Exiv2::XmpKey>(properties.xmp, key);
    // The embedded thumbnail shows the unprocessed picture.
    Exiv2::ExifThumb(properties.exif).erase();
    return properties;
}

Image CoreImagePipeline::scaledToFit(const Image& image, double maxDimension) const {
    const int longer = std::max(image.width(), image.height());
    if (image.empty() || !(longer > maxDimension) || maxDimension <= 0) return image;
    const double s = maxDimension / longer;
    const int width = std::max(1, static_cast<int>(std::lround(image.width() * s)));
    const int height = std::max(1, static_cast<int>(std::lround(image.height() * s)));
    return Image{resample(image.pixels, width, height, AlphaHandling::premultiplied), image.metadata};
}

std::optional<std::vector<std::uint8_t>> CoreImagePipeline::jpegData(const Image& image, double quality,
                                                                    const ImageMetadata* properties) const {
    if (image.empty()) return std::nullopt;
    try {
        return withMetadata(detail::encodeJpeg(image.pixels, quality), writtenMetadata(image, properties));
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void CoreImagePipeline::write(const Image& image, const std::filesystem::path& url, double quality,
                              const ImageMetadata* properties) const {
    if (url.has_parent_path()) core::createFolders(url.parent_path());
    if (image.empty()) throw core::FileError::cannotWrite(url, "the image is empty");
    const ImageMetadata metadata = writtenMetadata(image, properties);
    std::vector<std::uint8_t> bytes;
    try {
        switch (writerFor(url)) {
        case Writer::png:
            bytes = withMetadata(detail::encodeWithOpenCV(image.pixels, ".png"), metadata);
            break;
        case Writer::tiff:
            bytes = withMetadata(detail::encodeWithOpenCV(image.pixels, ".tiff"), metadata);
            break;
        case Writer::heif:
            bytes = detail::encodeHeif(image.pixels, quality, metadata);
            break;
        case Writer::jpeg:
            bytes = withMetadata(detail::encodeJpeg(image.pixels, quality), metadata);
            break;
        }
    } catch (const Exiv2::AnyError& e) {
        throw core::FileError::cannotWrite(url, e.what());
    } catch (const detail::EncodeError& e) {
        throw core::FileError::cannotWrite(url, e.what());
    }
    core::writeFileAtomically(url, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

} // namespace image
