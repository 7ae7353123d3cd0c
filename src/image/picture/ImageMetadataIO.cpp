#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <string>

#include <exiv2/exiv2.hpp>
#include <opencv2/imgproc.hpp>

#include "core/Files.h"
#include "image/picture/CodecSupport.h"

namespace image::detail {

namespace {

std::recursive_mutex& xmpMutex() {
    static std::recursive_mutex m;
    return m;
}

// Exiv2 calls this around its own registration of XMP namespaces; our calls
// that reach the toolkit hold the same lock (lockXmpToolkit), which is why
// it can be taken again by the thread that holds it.
void xmpLock(void* /*data*/, bool lock) {
    if (lock)
        xmpMutex().lock();
    else
        xmpMutex().unlock();
}

// How many XmpToolkitLocks this thread holds.
thread_local int xmpLocksHeld = 0;

// The toolkit's namespace table as the program started it, and Exiv2's
// registry without the namespaces packets added: terminating the toolkit
// unregisters them, starting it registers the standard prefixes.
void restartXmpToolkit() {
    Exiv2::XmpParser::terminate();
    Exiv2::XmpParser::initialize(xmpLock, nullptr);
}

} // namespace

void startExiv2() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize(xmpLock, nullptr);
    });
}

XmpToolkitLock::XmpToolkitLock() {
    startExiv2();
    lock_ = std::unique_lock(xmpMutex());
    if (xmpLocksHeld++ == 0) restartXmpToolkit();
}

XmpToolkitLock::~XmpToolkitLock() { --xmpLocksHeld; }

XmpToolkitLock lockXmpToolkit() { return XmpToolkitLock(); }

void declareOwnXmpPrefixes(const Exiv2::XmpData& xmp) {
    if (xmp.empty() || xmp.xmpPacket().empty()) return;
    // Reading the packet again declares its prefixes; what it gives is
    // the data the item already holds.
    Exiv2::XmpData again;
    try {
        (void)Exiv2::XmpParser::decode(again, xmp.xmpPacket());
    } catch (const Exiv2::AnyError&) {
    }
}

namespace {

// Reads the metadata of `file`, opened from `contents`.
void readBounded(Exiv2::Image& file, Bytes contents) {
    bool xmp = true;
    if (file.imageType() == Exiv2::ImageType::jpeg) {
        const JpegMetadataSegments segments = jpegMetadataSegments(contents);
        if (segments.profileBytes > OversizedProfile::kMaxBytes) throw OversizedProfile(segments.profileBytes);
        xmp = segments.xmp;
    }
    // Exiv2 reaches the XMP toolkit only through a packet it parses: a JPEG
    // without one is read beside the items that hold the lock.
    if (!xmp) {
        file.readMetadata();
        return;
    }
    const auto lock = lockXmpToolkit();
    file.readMetadata();
}

} // namespace

Exiv2::Image::AutoPtr readWithExiv2(Bytes bytes) {
    startExiv2();
    auto file = Exiv2::ImageFactory::open(bytes.data(), static_cast<long>(bytes.size()));
    if (file.get()) readBounded(*file, bytes);
    return file;
}

Exiv2::Image::AutoPtr readWithExiv2(const std::filesystem::path& path) {
    startExiv2();
    auto file = Exiv2::ImageFactory::open(path.string());
    if (!file.get()) return file;
    // Only a JPEG's segments are looked at.
    std::string contents;
    if (file->imageType() == Exiv2::ImageType::jpeg) contents = core::readFile(path);
    readBounded(*file, Bytes(reinterpret_cast<const std::uint8_t*>(contents.data()), contents.size()));
    return file;
}

std::optional<ImageMetadata> readExiv2Metadata(Bytes bytes) {
    try {
        auto file = readWithExiv2(bytes);
        if (!file.get()) return std::nullopt;
        ImageMetadata metadata;
        metadata.exif = file->exifData();
        metadata.iptc = file->iptcData();
        metadata.xmp = file->xmpData();
        if (file->iccProfileDefined()) {
            const Exiv2::DataBuf* icc = file->iccProfile();
            metadata.icc.assign(icc->pData_, icc->pData_ + icc->size_);
        }
        return metadata;
    } catch (const OversizedProfile&) {
        throw;
    } catch (const Exiv2::AnyError&) {
        return std::nullopt;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

int orientationOf(const ImageMetadata& metadata) {
    long value = 0;
    const auto exif = metadata.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (exif != metadata.exif.end() && exif->count() > 0) {
        value = exif->toLong();
    } else {
        const auto xmp = metadata.xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
        if (xmp != metadata.xmp.end() && xmp->count() > 0) value = xmp->toLong();
    }
    return value >= 1 && value <= 8 ? static_cast<int>(value) : 1;
}

cv::Mat applyOrientation(const cv::Mat& pixels, int orientation) {
    cv::Mat out;
    switch (orientation) {
    case 2:
        cv::flip(pixels, out, 1);
        return out;
    case 3:
        cv::rotate(pixels, out, cv::ROTATE_180);
        return out;
    case 4:
        cv::flip(pixels, out, 0);
        return out;
    case 5:
        cv::transpose(pixels, out);
        return out;
    case 6:
        cv::rotate(pixels, out, cv::ROTATE_90_CLOCKWISE);
        return out;
    case 7:
        cv::transpose(pixels, out);
        cv::flip(out, out, -1);
        return out;
    case 8:
        cv::rotate(pixels, out, cv::ROTATE_90_COUNTERCLOCKWISE);
        return out;
    default:
        return pixels;
    }
}

void setUpright(ImageMetadata& metadata) {
    const auto exif = metadata.exif.findKey(Exiv2::ExifKey("Exif.Image.Orientation"));
    if (exif != metadata.exif.end()) metadata.exif["Exif.Image.Orientation"] = std::uint16_t{1};
    const auto xmp = metadata.xmp.findKey(Exiv2::XmpKey("Xmp.tiff.Orientation"));
    if (xmp != metadata.xmp.end()) metadata.xmp["Xmp.tiff.Orientation"] = "1";
}

cv::Mat toRGBA(const cv::Mat& decoded) {
    cv::Mat samples;
    switch (decoded.depth()) {
    case CV_8U:
    case CV_16U:
    case CV_32F:
        samples = decoded;
        break;
    case CV_8S:
        decoded.convertTo(samples, CV_8U, 1.0, 128.0);
        break;
    case CV_16S:
        decoded.convertTo(samples, CV_16U, 1.0, 32768.0);
        break;
    case CV_32S:
        decoded.convertTo(samples, CV_32F, 1.0 / 2147483647.0);
        break;
    default:
        decoded.convertTo(samples, CV_32F);
        break;
    }
    cv::Mat out;
    switch (samples.channels()) {
    case 1:
        cv::cvtColor(samples, out, cv::COLOR_GRAY2RGBA);
        break;
    case 2: {
        std::array<cv::Mat, 2> planes;
        cv::split(samples, planes.data());
        const std::array<cv::Mat, 4> rgba{planes[0], planes[0], planes[0], planes[1]};
        cv::merge(rgba.data(), rgba.size(), out);
        break;
    }
    case 3:
        cv::cvtColor(samples, out, cv::COLOR_BGR2RGBA);
        break;
    default:
        cv::cvtColor(samples, out, cv::COLOR_BGRA2RGBA);
        break;
    }
    return out;
}

std::vector<std::uint8_t> embedMetadata(const std::vector<std::uint8_t>& encoded, const ImageMetadata& metadata) {
    const auto xmp = lockXmpToolkit();
    auto file = Exiv2::ImageFactory::open(encoded.data(), static_cast<long>(encoded.size()));
    if (!file.get()) throw Exiv2::Error(Exiv2::kerUnsupportedImageType, "memory");
    file->readMetadata();
    file->setExifData(metadata.exif);
    file->setIptcData(metadata.iptc);
    file->setXmpData(metadata.xmp);
    if (describesRGB(metadata.icc)) {
        Exiv2::DataBuf icc(metadata.icc.data(), static_cast<long>(metadata.icc.size()));
        file->setIccProfile(icc, false);
    }
    declareOwnXmpPrefixes(metadata.xmp);
    file->writeMetadata();
    Exiv2::BasicIo& io = file->io();
    io.open();
    io.seek(0, Exiv2::BasicIo::beg);
    std::vector<std::uint8_t> out(io.size());
    const long read = io.read(out.data(), static_cast<long>(out.size()));
    io.close();
    out.resize(static_cast<std::size_t>(std::max(read, 0L)));
    return out;
}

} // namespace image::detail
