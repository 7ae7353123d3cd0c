#include "image/picture/ImageCodecs.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string_view>
#include <variant>

#include <fmt/format.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>
#include <stb_image.h>

#include "core/Error.h"
#include "core/Files.h"
#include "image/picture/CodecSupport.h"
#include "image/picture/ImageDecoders.h"
#include "image/picture/JpegDecoder.h"
#include "image/picture/PSDDecoder.h"
#include "image/picture/TiffDecoder.h"

namespace image {

namespace {

using detail::Bytes;
using detail::FileKind;

std::optional<cv::Mat> decodeOpenCV(Bytes bytes) {
    try {
        const cv::Mat wrapped(1, static_cast<int>(bytes.size()), CV_8U, const_cast<std::uint8_t*>(bytes.data()));
        const cv::Mat decoded = detail::openCVDecode(wrapped, cv::IMREAD_UNCHANGED);
        if (decoded.empty()) return std::nullopt;
        return detail::toRGBA(decoded);
    } catch (const cv::Exception& e) {
        if (isOutOfMemory(e)) throw;
        return std::nullopt;
    }
}

// stb_image reads from these callbacks, so that a read past the end of the
// data (which stb answers with zeros) is noticed.
struct StbInput {
    Bytes bytes;
    std::size_t at = 0;
    bool overrun = false;

    // stb refills its buffer in blocks of this size (the size of its own
    // buffer) and takes a short block at the end as it comes; any other
    // read is a run of data the picture needs.
    static constexpr int kBlock = 128;

    static int read(void* user, char* data, int size) {
        auto& in = *static_cast<StbInput*>(user);
        if (size <= 0) return 0;
        const std::size_t n = std::min(in.bytes.size() - in.at, static_cast<std::size_t>(size));
        if (n == 0 || (n < static_cast<std::size_t>(size) && size != kBlock)) in.overrun = true;
        std::memcpy(data, in.bytes.data() + in.at, n);
        in.at += n;
        return static_cast<int>(n);
    }
    static void skip(void* user, int n) {
        auto& in = *static_cast<StbInput*>(user);
        if (n < 0) {
            in.at -= std::min(in.at, static_cast<std::size_t>(-static_cast<long>(n)));
            return;
        }
        if (static_cast<std::size_t>(n) > in.bytes.size() - in.at) in.overrun = true;
        in.at += std::min(in.bytes.size() - in.at, static_cast<std::size_t>(n));
    }
    static int eof(void* user) {
        const auto& in = *static_cast<StbInput*>(user);
        return in.at >= in.bytes.size() ? 1 : 0;
    }
};

std::optional<cv::Mat> decodeStb(Bytes bytes) {
    if (bytes.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    const int length = static_cast<int>(bytes.size());
    int width = 0, height = 0, channels = 0;
    StbInput input{bytes};
    const stbi_io_callbacks callbacks{&StbInput::read, &StbInput::skip, &StbInput::eof};
    std::optional<cv::Mat> picture;
    if (stbi_is_16_bit_from_memory(bytes.data(), length)) {
        std::unique_ptr<stbi_us, void (*)(void*)> data(
            stbi_load_16_from_callbacks(&callbacks, &input, &width, &height, &channels, 4), stbi_image_free);
        if (data) picture = cv::Mat(height, width, CV_16UC4, data.get()).clone();
    } else {
        std::unique_ptr<stbi_uc, void (*)(void*)> data(
            stbi_load_from_callbacks(&callbacks, &input, &width, &height, &channels, 4), stbi_image_free);
        if (data) picture = cv::Mat(height, width, CV_8UC4, data.get()).clone();
    }
    if (input.overrun) throw detail::DamagedData::cutShort();
    return picture;
}

bool withinLimit(const PixelSize& size) {
    return static_cast<std::int64_t>(size.width) * size.height <= kMaxImagePixels;
}

std::optional<Image> decodeKind(Bytes bytes, FileKind kind, const DecodeOptions& options) {
    std::optional<Image> image;
    // libheif and LibRaw hand the picture over already turned.
    bool turnedByDecoder = false;
    auto plain = [&](std::optional<cv::Mat> pixels) {
        if (!pixels) return;
        image = Image{std::move(*pixels), {}};
        if (auto metadata = detail::readExiv2Metadata(bytes)) image->metadata = std::move(*metadata);
    };
    // Inks have no RGB of their own, so they become sRGB here whatever the
    // options, through the file's CMYK profile; that profile describes the
    // inks, not the pixels made of them, and goes.
    auto inksToSRGB = [&](detail::InkStorage storage, const std::vector<std::uint8_t>& icc) {
        image->pixels = detail::inksToSRGB(image->pixels, storage, icc);
        image->metadata.icc.clear();
    };
    switch (kind) {
    case FileKind::jpeg: {
        auto jpeg = detail::decodeJpeg(bytes);
        if (!jpeg) break;
        plain(std::move(jpeg->pixels));
        if (jpeg->inks) inksToSRGB(*jpeg->inks, image->metadata.icc);
        break;
    }
    case FileKind::tiff:
        if (auto tiff = detail::decodeProfiledCmykTiff(bytes)) {
            plain(std::move(tiff->inks));
            inksToSRGB(detail::InkStorage::plain, tiff->icc);
            if (!tiff->alpha.empty()) cv::insertChannel(tiff->alpha, image->pixels, 3);
        } else {
            plain(decodeOpenCV(bytes));
        }
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
        // No signature of ours: what reaches here is a kind stb_image knows
        // (TGA above all; checkedSize asked stb for its size). OpenCV is kept
        // out of it, since it would choose a decoder by its own signatures
        // (GDAL for "DTED" at byte 140, through a copy written into /tmp).
        plain(decodeStb(bytes));
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

// The stored size, or why there is none. `file` names the data in errors.
PixelSize checkedSize(Bytes bytes, FileKind kind, const std::filesystem::path& file) {
    if (bytes.empty()) throw ImageReadError::empty(file);
    const auto size = detail::headerPixelSize(bytes, kind);
    if (!size) {
        // A known signature with a header that can't be read is a file cut
        // short (or broken); anything else is no picture at all.
        if (kind == FileKind::unknown) throw ImageReadError::notAnImage(file);
        throw ImageReadError::damaged(file, "the header can't be read");
    }
    if (size->width <= 0 || size->height <= 0) throw ImageReadError::damaged(file, "the header gives no size");
    if (!withinLimit(*size)) throw ImageReadError::overPixelLimit(file, *size);
    return *size;
}

Image decode(Bytes bytes, const DecodeOptions& options, const std::filesystem::path& file) {
    const FileKind kind = detail::sniff(bytes);
    const PixelSize size = checkedSize(bytes, kind, file);
    detail::startExiv2();
    std::optional<Image> image;
    try {
        image = decodeKind(bytes, kind, options);
    } catch (const detail::DamagedData& e) {
        throw ImageReadError::damaged(file, e.what());
    } catch (const detail::UnsupportedDocument& e) {
        throw std::visit([&](auto variant) { return ImageReadError::unsupported(file, variant); }, e.variant);
    } catch (const detail::OversizedProfile& e) {
        throw ImageReadError::oversizedProfile(file, e.bytes);
    } catch (const std::exception& e) {
        if (isOutOfMemory(e)) throw ImageReadError::notEnoughMemory(file, size);
        throw ImageReadError::damaged(file, e.what());
    }
    if (!image) {
        if (kind == FileKind::unknown) throw ImageReadError::notAnImage(file);
        throw ImageReadError::damaged(file, "the picture data can't be decoded");
    }
    return std::move(*image);
}

std::string readWholeFile(const std::filesystem::path& path) {
    try {
        return core::readFile(path);
    } catch (const core::FileError& e) {
        throw ImageReadError::unreadable(e);
    }
}

Bytes asBytes(const std::string& s) { return {reinterpret_cast<const std::uint8_t*>(s.data()), s.size()}; }

std::string sizeText(PixelSize size) { return fmt::format("{} \u00d7 {}", size.width, size.height); }

} // namespace

ImageReadError ImageReadError::unreadable(const core::FileError& error) {
    return {Kind::unreadable, error.what(), error.reason()};
}
ImageReadError ImageReadError::empty(const std::filesystem::path& file) {
    return {Kind::empty, fmt::format("{} is empty", file.filename().string()), "the file is empty"};
}
ImageReadError ImageReadError::notAnImage(const std::filesystem::path& file) {
    return {Kind::notAnImage, fmt::format("{} is not an image", file.filename().string()), "not an image"};
}
ImageReadError ImageReadError::overPixelLimit(const std::filesystem::path& file, PixelSize size) {
    constexpr auto megapixels = kMaxImagePixels / 1'000'000;
    return {Kind::overPixelLimit,
            fmt::format("{} is {}, over the {}-megapixel limit", file.filename().string(), sizeText(size), megapixels),
            fmt::format("{} is over the {}-megapixel limit", sizeText(size), megapixels)};
}
ImageReadError ImageReadError::damaged(const std::filesystem::path& file, const std::string& detail) {
    return {Kind::damaged, fmt::format("{} is damaged: {}", file.filename().string(), detail),
            fmt::format("the file is damaged: {}", detail)};
}
// A valid file of a kind not read: "<name> is <what it is>; only <what is
// read> are read".
ImageReadError ImageReadError::unsupported(const std::filesystem::path& file, PhotoshopVariant variant) {
    struct Texts {
        PhotoshopVariant variant;
        std::string_view document; // what the file is
        std::string_view read;     // what is read instead
    };
    constexpr std::string_view kModes = "RGB and Grayscale";
    constexpr Texts kTexts[] = {
        {PhotoshopVariant::bitmap, "a Bitmap", kModes},
        {PhotoshopVariant::indexed, "an Indexed", kModes},
        {PhotoshopVariant::cmyk, "a CMYK", kModes},
        {PhotoshopVariant::multichannel, "a Multichannel", kModes},
        {PhotoshopVariant::duotone, "a Duotone", kModes},
        {PhotoshopVariant::lab, "a Lab", kModes},
        {PhotoshopVariant::floatingPoint, "a 32-bit", "8- and 16-bit"},
        {PhotoshopVariant::zipCompressed, "a ZIP-compressed", "uncompressed and RLE-compressed"},
        {PhotoshopVariant::largeDocument, "a large-format (PSB)", "standard (PSD)"},
    };
    const auto* texts = std::find_if(std::begin(kTexts), std::end(kTexts),
                                     [&](const Texts& t) { return t.variant == variant; });
    const std::string reason = fmt::format("{} Photoshop document; only {} documents are read", texts->document, texts->read);
    return {Kind::unsupported, fmt::format("{} is {}", file.filename().string(), reason), reason};
}
ImageReadError ImageReadError::unsupported(const std::filesystem::path& file, JpegVariant variant) {
    constexpr std::string_view kProcesses = "only baseline and progressive JPEGs are read";
    std::string reason;
    switch (variant.kind) {
    case JpegVariant::Kind::precision:
        reason = fmt::format("a {}-bit JPEG; only 8-bit JPEGs are read", variant.count);
        break;
    case JpegVariant::Kind::colourComponents:
        reason = fmt::format("a JPEG with {} colour components; only Grayscale, RGB and CMYK JPEGs are read",
                             variant.count);
        break;
    case JpegVariant::Kind::lossless: reason = fmt::format("a lossless JPEG; {}", kProcesses); break;
    case JpegVariant::Kind::hierarchical: reason = fmt::format("a hierarchical JPEG; {}", kProcesses); break;
    }
    return {Kind::unsupported, fmt::format("{} is {}", file.filename().string(), reason), reason};
}
ImageReadError ImageReadError::oversizedProfile(const std::filesystem::path& file, std::uint64_t bytes) {
    constexpr std::uint64_t kMiB = 1 << 20;
    const std::string reason = fmt::format("a {} MB colour profile; profiles over {} MB aren't read",
                                           (bytes + kMiB / 2) / kMiB, detail::OversizedProfile::kMaxBytes / kMiB);
    return {Kind::unsupported, fmt::format("{} has {}", file.filename().string(), reason), reason};
}
ImageReadError ImageReadError::notEnoughMemory(const std::filesystem::path& file, PixelSize size) {
    const std::string dimensions = size.width > 0 && size.height > 0 ? " (" + sizeText(size) + ")" : "";
    return {Kind::outOfMemory, fmt::format("Not enough memory to process {}{}", file.filename().string(), dimensions),
            "not enough memory" + dimensions};
}

bool isOutOfMemory(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error)) return true;
    if (const auto* cv = dynamic_cast<const cv::Exception*>(&error)) return cv->code == cv::Error::StsNoMem;
    const std::string_view text = error.what();
    if (text.find("out of memory") != std::string_view::npos) return true;
    // libvips leaves its error text empty when an allocation inside a
    // render fails; the resampler's step name is all that is left.
    constexpr std::string_view kRender = "resample: render: ";
    return text == kRender;
}

void rethrowNamingMemory(const std::filesystem::path& file) {
    try {
        throw;
    } catch (const std::exception& e) {
        if (!isOutOfMemory(e)) throw;
    }
    throw ImageReadError::notEnoughMemory(file, readPixelSize(file).value_or(PixelSize{}));
}

Image loadImageFile(const std::filesystem::path& path, const DecodeOptions& options) {
    const std::string contents = readWholeFile(path);
    return decode(asBytes(contents), options, path);
}

std::optional<Image> decodeImageFile(const std::filesystem::path& path, const DecodeOptions& options) {
    try {
        return loadImageFile(path, options);
    } catch (const ImageReadError&) {
        return std::nullopt;
    }
}

Image loadImageData(const std::vector<std::uint8_t>& bytes, const std::filesystem::path& file,
                    const DecodeOptions& options) {
    return decode(Bytes(bytes.data(), bytes.size()), options, file);
}

std::optional<Image> decodeImageData(const std::vector<std::uint8_t>& bytes, const DecodeOptions& options) {
    try {
        return decode(Bytes(bytes.data(), bytes.size()), options, "image data");
    } catch (const ImageReadError&) {
        return std::nullopt;
    }
}

PixelSize loadPixelSize(const std::filesystem::path& path) {
    const std::string contents = readWholeFile(path);
    const Bytes bytes = asBytes(contents);
    const FileKind kind = detail::sniff(bytes);
    if (bytes.empty()) throw ImageReadError::empty(path);
    const auto size = detail::headerPixelSize(bytes, kind);
    if (!size) {
        if (kind == FileKind::unknown) throw ImageReadError::notAnImage(path);
        throw ImageReadError::damaged(path, "the header can't be read");
    }
    return *size;
}

std::optional<PixelSize> readPixelSize(const std::filesystem::path& path) {
    try {
        return loadPixelSize(path);
    } catch (const ImageReadError&) {
        return std::nullopt;
    }
}

std::optional<ImageMetadata> readMetadata(const std::filesystem::path& path) {
    std::string contents;
    try {
        contents = core::readFile(path);
    } catch (const core::FileError&) {
        return std::nullopt;
    }
    const Bytes bytes = asBytes(contents);
    if (detail::sniff(bytes) == FileKind::heif) return detail::heifMetadata(bytes);
    try {
        return detail::readExiv2Metadata(bytes);
    } catch (const detail::OversizedProfile&) {
        return std::nullopt;
    }
}

} // namespace image
