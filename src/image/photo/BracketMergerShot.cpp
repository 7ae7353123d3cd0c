// Reading a photo's capture facts for bracket grouping: metadata only, never
// pixels. Exiv2 reads most formats; HEIF/HEIC comes through libheif's Exif
// block; camera raws Exiv2 can't describe fall back to LibRaw's parse.

#include "image/photo/BracketMerger.h"

#include <cmath>
#include <cstdio>
#include <memory>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <unicode/locid.h>
#include <unicode/parsepos.h>
#include <unicode/smpdtfmt.h>
#include <unicode/unistr.h>

#include "core/Files.h"
#include "core/Numbers.h"
#include "image/picture/CodecSupport.h"

namespace image {

namespace fs = std::filesystem;

namespace {

// What one file says about its capture, before it becomes a Shot.
struct CaptureFacts {
    int width = 0;
    int height = 0;
    Exiv2::ExifData exif;
    // Values from a raw decoder's own parse, used when the EXIF has none.
    std::optional<core::Date> rawTime;
    std::optional<double> rawExposureTime, rawFNumber, rawISO;
};

std::optional<double> numberOf(const Exiv2::Value& value, long index = 0) {
    if (value.count() <= index) return std::nullopt;
    switch (value.typeId()) {
    case Exiv2::unsignedRational:
    case Exiv2::signedRational: {
        const Exiv2::Rational r = value.toRational(index);
        if (r.second == 0) return std::nullopt;
        return static_cast<double>(r.first) / static_cast<double>(r.second);
    }
    case Exiv2::unsignedByte:
    case Exiv2::unsignedShort:
    case Exiv2::unsignedLong:
    case Exiv2::signedByte:
    case Exiv2::signedShort:
    case Exiv2::signedLong:
    case Exiv2::tiffIfd:
        return static_cast<double>(value.toLong(index));
    case Exiv2::tiffFloat:
    case Exiv2::tiffDouble:
        return static_cast<double>(value.toFloat(index));
    default:
        return std::nullopt;
    }
}

const Exiv2::Exifdatum* find(const Exiv2::ExifData& exif, const char* key) {
    auto it = exif.findKey(Exiv2::ExifKey(key));
    return it == exif.end() ? nullptr : &*it;
}

std::optional<double> exifNumber(const Exiv2::ExifData& exif, const char* key) {
    const auto* d = find(exif, key);
    return d ? numberOf(d->value()) : std::nullopt;
}

std::optional<std::string> exifText(const Exiv2::ExifData& exif, const char* key) {
    const auto* d = find(exif, key);
    if (!d || d->typeId() != Exiv2::asciiString) return std::nullopt;
    std::string text = d->value().toString();
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return text;
}

// "yyyy:MM:dd HH:mm:ss" in the process's time zone, the whole text.
std::optional<core::Date> parseCaptureDate(const std::string& text) {
    thread_local std::unique_ptr<icu::SimpleDateFormat> formatter = [] {
        UErrorCode status = U_ZERO_ERROR;
        auto f = std::make_unique<icu::SimpleDateFormat>(icu::UnicodeString(u"yyyy:MM:dd HH:mm:ss"),
                                                         icu::Locale("en_US_POSIX"), status);
        if (U_FAILURE(status)) return std::unique_ptr<icu::SimpleDateFormat>();
        f->setLenient(false);
        return f;
    }();
    if (!formatter) return std::nullopt;
    const auto input = icu::UnicodeString::fromUTF8(text);
    icu::ParsePosition pos(0);
    const UDate ms = formatter->parse(input, pos);
    if (pos.getErrorIndex() >= 0 || pos.getIndex() != input.length()) return std::nullopt;
    if (!std::isfinite(ms)) return std::nullopt;
    return core::Date(std::chrono::duration_cast<core::Clock::duration>(std::chrono::duration<double, std::milli>(ms)));
}

bool looksLikeHeif(const std::string& head) {
    const auto got = static_cast<int>(head.size());
    return got >= 12 && heif_check_filetype(reinterpret_cast<const std::uint8_t*>(head.data()), got) ==
                            heif_filetype_yes_supported;
}

// HEIF: the primary image's stored size (ispe, before rotation) and its Exif
// block, whose first four bytes give the offset of the TIFF header.
std::optional<CaptureFacts> readHeif(const fs::path& path) {
    std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx(detail::newHeifContext(), heif_context_free);
    if (!ctx || heif_context_read_from_file(ctx.get(), path.c_str(), nullptr).code != heif_error_Ok)
        return std::nullopt;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok) return std::nullopt;
    std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(raw, heif_image_handle_release);
    CaptureFacts facts;
    facts.width = heif_image_handle_get_ispe_width(handle.get());
    facts.height = heif_image_handle_get_ispe_height(handle.get());
    heif_item_id id = 0;
    if (heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), "Exif", &id, 1) == 1) {
        const std::size_t size = heif_image_handle_get_metadata_size(handle.get(), id);
        std::vector<Exiv2::byte> block(size);
        if (size > 4 && heif_image_handle_get_metadata(handle.get(), id, block.data()).code == heif_error_Ok) {
            const std::size_t offset = (std::size_t(block[0]) << 24) | (std::size_t(block[1]) << 16) |
                                       (std::size_t(block[2]) << 8) | std::size_t(block[3]);
            if (offset < size - 4) {
                try {
                    Exiv2::ExifParser::decode(facts.exif, block.data() + 4 + offset,
                                              static_cast<std::uint32_t>(size - 4 - offset));
                } catch (const std::exception&) {
                    facts.exif.clear();
                }
            }
        }
    }
    return facts;
}

// Camera raws: LibRaw's own parse of the capture values (and the sensor
// image's size before rotation).
bool readRaw(const fs::path& path, CaptureFacts& facts) {
    auto raw = std::make_unique<LibRaw>();
    if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS) return false;
    const auto& d = raw->imgdata;
    if (facts.width <= 0 || facts.height <= 0) {
        facts.width = d.sizes.width;
        facts.height = d.sizes.height;
    }
    if (d.other.timestamp > 0) facts.rawTime = core::Clock::from_time_t(d.other.timestamp);
    if (d.other.shutter > 0) facts.rawExposureTime = d.other.shutter;
    if (d.other.aperture > 0) facts.rawFNumber = d.other.aperture;
    if (d.other.iso_speed > 0) facts.rawISO = d.other.iso_speed;
    return true;
}

bool isCommonPictureType(const std::string& mime) {
    return mime == "image/jpeg" || mime == "image/png" || mime == "image/webp" || mime == "image/gif" ||
           mime == "image/bmp" || mime == "image/x-ms-bmp";
}

std::optional<CaptureFacts> readFacts(const fs::path& path) {
    // The libraries below open the file by its name; the checks come first
    // (no FIFO, device or folder). Throws FileError.
    if (looksLikeHeif(core::readFileHead(path, 32))) return readHeif(path);
    detail::startExiv2(); // the XMP toolkit is set up once, before threads read at once
    CaptureFacts facts;
    bool opened = false;
    std::string mime;
    try {
        auto img = detail::readWithExiv2(path);
        if (img.get()) {
            facts.width = img->pixelWidth();
            facts.height = img->pixelHeight();
            facts.exif = img->exifData();
            mime = img->mimeType();
            opened = true;
        }
    } catch (const std::exception&) {
        opened = false;
    }
    const bool exifHasCapture = find(facts.exif, "Exif.Photo.DateTimeOriginal") ||
                                find(facts.exif, "Exif.Photo.ExposureTime");
    if ((!opened || !exifHasCapture || facts.width <= 0) && !isCommonPictureType(mime)) {
        if (!readRaw(path, facts) && !opened) return std::nullopt;
    }
    return facts;
}

} // namespace

std::optional<BracketMerger::Shot> BracketMerger::shot(const fs::path& url) {
    std::optional<CaptureFacts> facts;
    try {
        facts = readFacts(url);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (!facts || facts->width <= 0 || facts->height <= 0) return std::nullopt;
    const Exiv2::ExifData& exif = facts->exif;

    Shot s;
    s.url = url;
    s.width = facts->width;
    s.height = facts->height;

    if (auto text = exifText(exif, "Exif.Photo.DateTimeOriginal")) {
        s.time = parseCaptureDate(*text);
        if (s.time) {
            if (auto sub = exifText(exif, "Exif.Photo.SubSecTimeOriginal")) {
                if (auto fraction = core::parseDouble("0." + *sub))
                    *s.time += std::chrono::duration_cast<core::Clock::duration>(std::chrono::duration<double>(*fraction));
            }
        }
    } else if (!find(exif, "Exif.Photo.DateTimeOriginal")) {
        s.time = facts->rawTime;
    }

    std::optional<double> t = exifNumber(exif, "Exif.Photo.ExposureTime");
    std::optional<double> fNumber = exifNumber(exif, "Exif.Photo.FNumber");
    std::optional<double> iso;
    if (const auto* d = find(exif, "Exif.Photo.ISOSpeedRatings")) iso = numberOf(d->value(), 0);
    if (!find(exif, "Exif.Photo.ExposureTime")) {
        t = facts->rawExposureTime;
        fNumber = fNumber ? fNumber : facts->rawFNumber;
        iso = iso ? iso : facts->rawISO;
    }

    if (!t) {
        s.exposureTime = 0;
    } else if (*t <= 0) {
        s.exposureTime = *t;
    } else {
        const double n = fNumber.value_or(8.0);
        const double speed = iso.value_or(100.0);
        s.exposureValue = std::log2(n * n / *t) - std::log2(speed / 100.0);
        s.exposureTime = *t;
    }
    return s;
}

} // namespace image
