#include <algorithm>
#include <cstring>
#include <string_view>

#include <libheif/heif.h>
#include <libraw/libraw.h>
#include <stb_image.h>

#include "image/picture/CodecSupport.h"

namespace image::detail {

namespace {

bool startsWith(Bytes b, std::string_view magic, std::size_t at = 0) {
    return b.size() >= at + magic.size() && std::memcmp(b.data() + at, magic.data(), magic.size()) == 0;
}

std::uint32_t be32(Bytes b, std::size_t at) {
    return (std::uint32_t{b[at]} << 24) | (std::uint32_t{b[at + 1]} << 16) | (std::uint32_t{b[at + 2]} << 8) | b[at + 3];
}
std::uint32_t le32(Bytes b, std::size_t at) {
    return (std::uint32_t{b[at + 3]} << 24) | (std::uint32_t{b[at + 2]} << 16) | (std::uint32_t{b[at + 1]} << 8) | b[at];
}
std::uint16_t le16(Bytes b, std::size_t at) { return static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)); }

// Reads the entries of a TIFF file's first directory.
class TiffHeader {
public:
    explicit TiffHeader(Bytes b) : b_(b), little_(b.size() >= 2 && b[0] == 'I') {}

    bool valid() const { return b_.size() >= 8 && u32(4) + 2 <= b_.size(); }

    // The value of a SHORT or LONG tag in IFD0.
    std::optional<std::uint32_t> tag(std::uint16_t wanted) const {
        if (!valid()) return std::nullopt;
        const std::size_t ifd = u32(4);
        const std::size_t count = u16(ifd);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t entry = ifd + 2 + i * 12;
            if (entry + 12 > b_.size()) break;
            if (u16(entry) != wanted) continue;
            const std::uint16_t type = u16(entry + 2);
            if (type == 3) return u16(entry + 8);
            if (type == 4) return u32(entry + 8);
            return 0u; // present, of another type
        }
        return std::nullopt;
    }

private:
    std::uint16_t u16(std::size_t at) const {
        if (at + 2 > b_.size()) return 0;
        return little_ ? le16(b_, at) : static_cast<std::uint16_t>((b_[at] << 8) | b_[at + 1]);
    }
    std::uint32_t u32(std::size_t at) const {
        if (at + 4 > b_.size()) return 0;
        return little_ ? le32(b_, at) : be32(b_, at);
    }
    Bytes b_;
    bool little_;
};

constexpr std::uint16_t kTagWidth = 0x0100;
constexpr std::uint16_t kTagHeight = 0x0101;
constexpr std::uint16_t kTagMake = 0x010F;
constexpr std::uint16_t kTagDNGVersion = 0xC612;
constexpr std::uint16_t kTagXmp = 0x02BC;

std::optional<PixelSize> exrSize(Bytes b) {
    // Attributes follow the 8-byte magic and version: name\0 type\0 size value.
    std::size_t at = 8;
    while (at < b.size() && b[at] != 0) {
        const auto* start = reinterpret_cast<const char*>(b.data());
        const std::size_t nameEnd = std::string_view(start + at, b.size() - at).find('\0');
        if (nameEnd == std::string_view::npos) return std::nullopt;
        const std::string_view name(start + at, nameEnd);
        at += nameEnd + 1;
        const std::size_t typeEnd = std::string_view(start + at, b.size() - at).find('\0');
        if (typeEnd == std::string_view::npos) return std::nullopt;
        at += typeEnd + 1;
        if (at + 4 > b.size()) return std::nullopt;
        const std::uint32_t size = le32(b, at);
        at += 4;
        if (at + size > b.size()) return std::nullopt;
        if (name == "dataWindow" && size == 16) {
            const auto x0 = static_cast<std::int32_t>(le32(b, at)), y0 = static_cast<std::int32_t>(le32(b, at + 4));
            const auto x1 = static_cast<std::int32_t>(le32(b, at + 8)), y1 = static_cast<std::int32_t>(le32(b, at + 12));
            const std::int64_t w = std::int64_t{x1} - x0 + 1, h = std::int64_t{y1} - y0 + 1;
            if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return std::nullopt;
            return PixelSize{static_cast<int>(w), static_cast<int>(h)};
        }
        at += size;
    }
    return std::nullopt;
}

std::optional<PixelSize> webpSize(Bytes b) {
    if (b.size() < 30) return std::nullopt;
    if (startsWith(b, "VP8X", 12)) {
        const int w = 1 + static_cast<int>(b[24] | (b[25] << 8) | (b[26] << 16));
        const int h = 1 + static_cast<int>(b[27] | (b[28] << 8) | (b[29] << 16));
        return PixelSize{w, h};
    }
    if (startsWith(b, "VP8L", 12)) {
        const std::uint32_t bits = le32(b, 21);
        return PixelSize{static_cast<int>((bits & 0x3FFF) + 1), static_cast<int>(((bits >> 14) & 0x3FFF) + 1)};
    }
    if (startsWith(b, "VP8 ", 12)) return PixelSize{le16(b, 26) & 0x3FFF, le16(b, 28) & 0x3FFF};
    return std::nullopt;
}

// Calls visit(marker, at, length) for each segment of a JPEG, in order,
// `at` being where its marker is and `length` what its length field says
// (meaningless for markers that have none, SOS and EOI among them), until
// visit returns false. Stray bytes between segments are passed over, as
// the decoder does.
template <typename Visit>
void walkJpegSegments(Bytes b, Visit visit) {
    std::size_t at = 2;
    while (at + 4 <= b.size()) {
        if (b[at] != 0xFF) {
            ++at;
            continue;
        }
        const std::uint8_t marker = b[at + 1];
        if (marker == 0xFF) {
            ++at;
            continue;
        }
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            at += 2;
            continue;
        }
        const std::size_t length = (std::size_t{b[at + 2]} << 8) | b[at + 3];
        if (!visit(marker, at, length)) return;
        at += 2 + length;
    }
}

std::optional<PixelSize> jpegSize(Bytes b) {
    // The size is in the first start-of-frame.
    std::optional<PixelSize> size;
    walkJpegSegments(b, [&](std::uint8_t marker, std::size_t at, std::size_t) {
        const bool sof = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (!sof) return true;
        if (at + 9 <= b.size()) size = PixelSize{(b[at + 7] << 8) | b[at + 8], (b[at + 5] << 8) | b[at + 6]};
        return false;
    });
    return size;
}

std::optional<PixelSize> heifSize(Bytes b) {
    heif_context* context = newHeifContext();
    std::optional<PixelSize> size;
    // Reading the context parses the boxes only; nothing is decoded.
    if (heif_context_read_from_memory_without_copy(context, b.data(), b.size(), nullptr).code == heif_error_Ok) {
        heif_image_handle* handle = nullptr;
        if (heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok) {
            const int w = heif_image_handle_get_ispe_width(handle);
            const int h = heif_image_handle_get_ispe_height(handle);
            if (w > 0 && h > 0) size = PixelSize{w, h};
            heif_image_handle_release(handle);
        }
    }
    heif_context_free(context);
    return size;
}

std::optional<PixelSize> rawSize(Bytes b) {
    LibRaw raw;
    if (raw.open_buffer(const_cast<std::uint8_t*>(b.data()), b.size()) != LIBRAW_SUCCESS) return std::nullopt;
    const int w = raw.imgdata.sizes.width, h = raw.imgdata.sizes.height;
    if (w <= 0 || h <= 0) return std::nullopt;
    return PixelSize{w, h};
}

// Whether an EXIF block (a TIFF header and directories) has an XMP packet
// in its first directory, which Exiv2 hands to the XMP toolkit; also when
// the block is too odd to tell.
bool exifHoldsXmp(Bytes exif) {
    const TiffHeader header(exif);
    return !header.valid() || header.tag(kTagXmp).has_value();
}

} // namespace

JpegMetadataSegments jpegMetadataSegments(Bytes b) {
    using namespace std::string_view_literals;
    // The identifiers as Exiv2 compares them (its ICC test stops before
    // the terminating zero).
    constexpr auto kIcc = "ICC_PROFILE"sv;
    constexpr auto kXmp = "http://ns.adobe.com/xap/1.0/\0"sv;
    constexpr auto kExif = "Exif\0\0"sv;
    // An ICC segment's length counts itself (2 bytes), the identifier with
    // its zero (12) and the chunk's number and count (2); the rest is the
    // profile's.
    constexpr std::size_t kIccHeader = 2 + 12 + 2;
    JpegMetadataSegments found;
    walkJpegSegments(b, [&](std::uint8_t marker, std::size_t at, std::size_t length) {
        if (marker == 0xDA || marker == 0xD9) return false; // Exiv2 reads no further
        const std::size_t body = at + 4;
        if (marker == 0xE2 && startsWith(b, kIcc, body)) {
            if (length > kIccHeader) found.profileBytes += length - kIccHeader;
        } else if (marker == 0xE1 && startsWith(b, kXmp, body)) {
            found.xmp = true;
        } else if (marker == 0xE1 && startsWith(b, kExif, body)) {
            const std::size_t from = body + kExif.size(), end = std::min(b.size(), at + 2 + length);
            found.xmp = found.xmp || exifHoldsXmp(b.subspan(from, end > from ? end - from : 0));
        }
        return true;
    });
    return found;
}

FileKind sniff(Bytes b) {
    if (startsWith(b, "\xFF\xD8\xFF")) return FileKind::jpeg;
    if (startsWith(b, "\x89PNG\r\n\x1A\n")) return FileKind::png;
    if (startsWith(b, "II*\0") || startsWith(b, "MM\0*")) {
        const TiffHeader tiff(b);
        if (tiff.tag(kTagDNGVersion) || startsWith(b, "CR", 8)) return FileKind::cameraRaw;
        // A camera maker's TIFF-shaped raw (NEF, ARW, ...) or an ordinary TIFF.
        if (tiff.tag(kTagMake)) return FileKind::dngOrTiffRaw;
        return FileKind::tiff;
    }
    if (startsWith(b, "IIRO") || startsWith(b, "IIRS") || startsWith(b, "MMOR") || startsWith(b, "IIU\0") ||
        startsWith(b, "FUJIFILMCCD-RAW") || startsWith(b, "FOVb"))
        return FileKind::cameraRaw;
    if (startsWith(b, "\x76\x2F\x31\x01")) return FileKind::exr;
    if (startsWith(b, "BM")) return FileKind::bmp;
    if (startsWith(b, "RIFF") && startsWith(b, "WEBP", 8)) return FileKind::webp;
    if (startsWith(b, "8BPS")) return FileKind::psd;
    if (startsWith(b, "GIF8")) return FileKind::gif;
    if (startsWith(b, "ftyp", 4)) {
        if (startsWith(b, "crx ", 8)) return FileKind::cameraRaw;
        return FileKind::heif;
    }
    return FileKind::unknown;
}

std::optional<PixelSize> headerPixelSize(Bytes b, FileKind kind) {
    switch (kind) {
    case FileKind::jpeg:
        return jpegSize(b);
    case FileKind::png:
        if (b.size() < 24 || !startsWith(b, "IHDR", 12)) return std::nullopt;
        return PixelSize{static_cast<int>(std::min<std::uint32_t>(be32(b, 16), INT32_MAX)),
                         static_cast<int>(std::min<std::uint32_t>(be32(b, 20), INT32_MAX))};
    case FileKind::tiff: {
        const TiffHeader tiff(b);
        const auto w = tiff.tag(kTagWidth), h = tiff.tag(kTagHeight);
        if (!w || !h) return std::nullopt;
        return PixelSize{static_cast<int>(std::min<std::uint32_t>(*w, INT32_MAX)),
                         static_cast<int>(std::min<std::uint32_t>(*h, INT32_MAX))};
    }
    case FileKind::dngOrTiffRaw:
    case FileKind::cameraRaw:
        if (auto size = rawSize(b)) return size;
        if (kind == FileKind::dngOrTiffRaw) return headerPixelSize(b, FileKind::tiff);
        return std::nullopt;
    case FileKind::exr:
        return exrSize(b);
    case FileKind::bmp: {
        if (b.size() < 26) return std::nullopt;
        const auto w = static_cast<std::int32_t>(le32(b, 18)), h = static_cast<std::int32_t>(le32(b, 22));
        if (w <= 0 || h == 0 || h == INT32_MIN) return std::nullopt;
        return PixelSize{w, h < 0 ? -h : h};
    }
    case FileKind::webp:
        return webpSize(b);
    case FileKind::heif:
        return heifSize(b);
    case FileKind::psd:
        if (b.size() < 22) return std::nullopt;
        return PixelSize{static_cast<int>(be32(b, 18)), static_cast<int>(be32(b, 14))};
    case FileKind::gif:
    case FileKind::unknown:
        break;
    }
    // TGA and the other formats stb_image knows.
    int w = 0, h = 0, comp = 0;
    if (b.size() > static_cast<std::size_t>(INT32_MAX)) return std::nullopt;
    if (!stbi_info_from_memory(b.data(), static_cast<int>(b.size()), &w, &h, &comp)) return std::nullopt;
    return PixelSize{w, h};
}

} // namespace image::detail
