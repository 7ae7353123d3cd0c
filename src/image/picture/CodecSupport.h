#pragma once

// Pieces the image codecs and the pipeline share; not part of the module's
// interface.

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "image/picture/Image.h"
#include "image/picture/ImageCodecs.h"

struct heif_context;

namespace image::detail {

using Bytes = std::span<const std::uint8_t>;

// Thrown by a decoder that met missing or corrupt data (a file cut short,
// a broken checksum): the picture is not used. what() is the decoder's
// finding, shown after "<name> is damaged: ".
class DamagedData : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;

    static constexpr const char* kCutShort = "the file ends before the picture does";
    static DamagedData cutShort() { return DamagedData(kCutShort); }
};

// Thrown by a decoder (Photoshop, JPEG) for a valid file of a kind it
// doesn't read.
class UnsupportedDocument : public std::runtime_error {
public:
    explicit UnsupportedDocument(PhotoshopVariant variant)
        : std::runtime_error("unsupported Photoshop document"), variant(variant) {}
    explicit UnsupportedDocument(JpegVariant variant) : std::runtime_error("unsupported JPEG"), variant(variant) {}
    std::variant<PhotoshopVariant, JpegVariant> variant;
};

enum class FileKind { jpeg, png, tiff, dngOrTiffRaw, exr, bmp, webp, heif, cameraRaw, psd, gif, unknown };

// What the first bytes say the file is.
FileKind sniff(Bytes bytes);

// The stored size from the header alone; nothing when the header can't be
// read.
std::optional<PixelSize> headerPixelSize(Bytes bytes, FileKind kind);

// Exiv2 is set up once per process (XMP toolkit, quiet log).
void startExiv2();

// Held around every Exiv2 call that parses or writes XMP (readMetadata,
// writeMetadata, XmpParser::decode/encode): the XMP toolkit and Exiv2's
// namespace registry are shared by the whole process and not safe to use
// from two items at once. Starts Exiv2 first. One thread may take it again.
//
// Both also keep one prefix per namespace for the whole process, which
// every packet read changes: the toolkit takes the prefixes a packet
// declares, Exiv2 keeps a namespace it doesn't know under the prefix of
// the first packet that had it. So that what an item's XMP is read as and
// written with doesn't depend on what other items read before, taking the
// lock (not again on the same thread) puts both back to how they start;
// before writing an item's XMP, declareOwnXmpPrefixes gives it its own
// packet's prefixes again.
class XmpToolkitLock {
public:
    XmpToolkitLock();
    ~XmpToolkitLock();
    XmpToolkitLock(const XmpToolkitLock&) = delete;
    XmpToolkitLock& operator=(const XmpToolkitLock&) = delete;

private:
    std::unique_lock<std::recursive_mutex> lock_;
};
[[nodiscard]] XmpToolkitLock lockXmpToolkit();

// Declares the namespace prefixes of the packet `xmp` was read from (none
// for XMP made in code), as reading it did, so that writing `xmp` uses
// them; namespaces it doesn't declare keep their standard prefixes. Call
// with the lock held, just before the XMP is written.
void declareOwnXmpPrefixes(const Exiv2::XmpData& xmp);

// cv::imdecode and cv::imencode, from the module that holds OpenCV's
// codecs (loaded on first use); OpenCV's exceptions come through, and a
// module that can't be loaded throws std::runtime_error saying why.
cv::Mat openCVDecode(const cv::Mat& encoded, int flags);
bool openCVEncode(const std::string& extension, const cv::Mat& image, std::vector<unsigned char>& encoded);

// libheif is started once per process, before its first use: its lazy
// start-up (loading the codec plugins) is not safe from two threads. Every
// libheif context comes from newHeifContext, which starts it first.
void startHeif();
heif_context* newHeifContext();

// What a JPEG's segments before its picture data hold for Exiv2, found
// from their markers, lengths and identifiers alone.
struct JpegMetadataSegments {
    std::uint64_t profileBytes = 0; // in all its ICC profile chunks
    // An XMP packet Exiv2 parses: an XMP segment, or the XMP tag in the
    // first directory of an EXIF segment.
    bool xmp = false;
};
JpegMetadataSegments jpegMetadataSegments(Bytes bytes);

// Thrown before Exiv2 reads a JPEG whose colour profile is larger than any
// a JPEG can carry: Exiv2 regrows the profile for every chunk, which for
// 100 MB takes about a minute.
class OversizedProfile : public std::runtime_error {
public:
    // A JPEG holds a profile in at most 255 chunks (the chunk number is
    // one byte) of at most 65,519 bytes: 15.9 MiB. Profiles themselves are
    // kilobytes to a few megabytes.
    static constexpr std::uint64_t kMaxBytes = std::uint64_t{16} << 20;
    explicit OversizedProfile(std::uint64_t bytes)
        : std::runtime_error("oversized colour profile"), bytes(bytes) {}
    std::uint64_t bytes;
};

// An encoded file in memory opened by Exiv2 with its metadata read;
// nothing when Exiv2 doesn't know the format. A JPEG's segments are
// checked first (OversizedProfile), and Exiv2 reads one without the XMP
// toolkit lock when they give it no XMP to parse. Throws Exiv2's errors.
Exiv2::Image::AutoPtr readWithExiv2(Bytes bytes);
// The same for a file Exiv2 opens by its path itself (it reads only the
// parts of a camera raw it needs); throws core::FileError too.
Exiv2::Image::AutoPtr readWithExiv2(const std::filesystem::path& path);

// EXIF/IPTC/XMP/ICC as Exiv2 reads them from an encoded file in memory.
// Nothing when Exiv2 doesn't know the format or the data is broken; throws
// OversizedProfile.
std::optional<ImageMetadata> readExiv2Metadata(Bytes bytes);

// The EXIF orientation (1 to 8) the metadata gives, EXIF before XMP;
// 1 when there is none or it is out of range.
int orientationOf(const ImageMetadata& metadata);

// Turns/mirrors pixels stored with `orientation` so they are upright.
cv::Mat applyOrientation(const cv::Mat& pixels, int orientation);

// Marks metadata as describing upright pixels (orientation 1 where given).
void setUpright(ImageMetadata& metadata);

// Colour (ColourConversion.cpp): every conversion to sRGB goes through
// these, with lcms2.

// Converts RGBA pixels from the given ICC profile to sRGB in place: an RGB
// profile's colours, or a Grayscale profile's tones (R = G = B on the way
// in). Leaves them as they are when the profile can't be used (another
// colour space, broken) or is already sRGB. Returns whether the pixels are
// now sRGB.
bool convertToSRGB(cv::Mat& rgba, const std::vector<std::uint8_t>& icc);

// How ink values are stored: plainly (0 is no ink), or inverted (255 is no
// ink), as Adobe applications and ImageMagick write them and their Adobe
// marker says.
enum class InkStorage { plain, inverted };

// CMYK samples (CV_8UC4 or CV_16UC4: cyan, magenta, yellow, black) as
// opaque sRGB RGBA of the same depth: through the ICC profile when it is a
// CMYK one, otherwise through the product of the inks (each colour is what
// its ink leaves of the light that black lets through).
cv::Mat inksToSRGB(const cv::Mat& cmyk, InkStorage storage, const std::vector<std::uint8_t>& icc);

// Whether an ICC profile describes RGB pixels (an RGB colour space that
// lcms2 can read): the only profile an output may carry, as every encoder
// writes RGB.
bool describesRGB(const std::vector<std::uint8_t>& icc);

// Whether an ICC profile describes CMYK inks (one lcms2 can read).
bool describesInks(const std::vector<std::uint8_t>& icc);

// Any 1-4 channel OpenCV matrix (BGR order, OpenCV's way) as RGBA at
// 8U, 16U or 32F.
cv::Mat toRGBA(const cv::Mat& decoded);

// Serialises EXIF/IPTC/XMP/ICC into an encoded image in memory (JPEG, PNG,
// TIFF) with Exiv2; a profile that doesn't describe RGB is left out.
// Returns the new bytes; throws Exiv2 errors.
std::vector<std::uint8_t> embedMetadata(const std::vector<std::uint8_t>& encoded, const ImageMetadata& metadata);

} // namespace image::detail
