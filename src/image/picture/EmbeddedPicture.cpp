#include "image/picture/EmbeddedPicture.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "image/picture/CodecSupport.h"
#include "image/picture/JpegDecoder.h"

namespace image {

namespace {

constexpr std::string_view kPNGSignature("\x89PNG\r\n\x1A\n", 8);

detail::Bytes asBytes(std::string_view b) { return {reinterpret_cast<const std::uint8_t*>(b.data()), b.size()}; }

std::uint32_t byteAt(std::string_view b, std::size_t i) { return static_cast<unsigned char>(b[i]); }
std::uint32_t be16(std::string_view b, std::size_t i) { return byteAt(b, i) << 8 | byteAt(b, i + 1); }
std::uint32_t be32(std::string_view b, std::size_t i) { return be16(b, i) << 16 | be16(b, i + 2); }

// An APPn segment that tells how to decode colour, not where or by whom the
// picture was taken. `payload` follows the segment's length.
bool colourSegment(std::uint32_t marker, std::string_view payload) {
    auto starts = [&](std::string_view id) { return payload.substr(0, id.size()) == id; };
    if (marker == 0xE0) return starts(std::string_view("JFIF\0", 5));
    if (marker == 0xE2) return starts(std::string_view("ICC_PROFILE\0", 12));
    if (marker == 0xEE) return starts("Adobe");
    return false;
}

// The entropy-coded data after a scan header at `at`: up to the next marker
// other than a stuffed 0xFF00 or a restart marker. npos when the file ends
// first.
std::size_t scanEnd(std::string_view b, std::size_t at) {
    for (std::size_t i = at; i + 1 < b.size(); ++i) {
        if (byteAt(b, i) != 0xFF) continue;
        const std::uint32_t next = byteAt(b, i + 1);
        if (next == 0x00 || (next >= 0xD0 && next <= 0xD7)) {
            ++i;
            continue;
        }
        return i; // a marker, or the fill bytes before one
    }
    return std::string_view::npos;
}

std::optional<std::string> jpegWithoutMetadata(std::string_view b) {
    std::string out("\xFF\xD8", 2);
    std::size_t i = 2;
    for (;;) {
        if (i >= b.size() || byteAt(b, i) != 0xFF) return std::nullopt;
        while (i < b.size() && byteAt(b, i) == 0xFF) ++i; // fill bytes
        if (i >= b.size()) return std::nullopt;
        const std::uint32_t marker = byteAt(b, i++);
        if (marker == 0xD9) return out + "\xFF\xD9"; // end of image; what follows is dropped
        if (marker == 0x00 || marker == 0xD8) return std::nullopt;
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            out += '\xFF';
            out += static_cast<char>(marker);
            continue;
        }
        if (i + 2 > b.size()) return std::nullopt;
        const std::size_t length = be16(b, i);
        if (length < 2 || i + length > b.size()) return std::nullopt;
        const bool application = marker >= 0xE0 && marker <= 0xEF;
        const bool keep = marker != 0xFE && (!application || colourSegment(marker, b.substr(i + 2, length - 2)));
        if (keep) {
            out += '\xFF';
            out += static_cast<char>(marker);
            out.append(b.substr(i, length));
        }
        i += length;
        if (marker == 0xDA) {
            const std::size_t end = scanEnd(b, i);
            if (end == std::string_view::npos) return std::nullopt;
            out.append(b.substr(i, end - i));
            i = end;
        }
    }
}

// A PNG chunk that draws the picture or says its colour. Anything else
// describes it, in chunks of every name: text, time, EXIF as eXIf and as
// the exIf and zxIf that came before it, an application's private ones.
bool drawingChunk(std::string_view type) {
    constexpr std::string_view kDrawing[] = {"IHDR", "PLTE", "IDAT", "IEND", "tRNS", "gAMA", "cHRM",
                                             "sRGB", "iCCP", "sBIT", "cICP", "mDCV", "cLLI", "bKGD"};
    return std::find(std::begin(kDrawing), std::end(kDrawing), type) != std::end(kDrawing);
}

std::optional<std::string> pngWithoutMetadata(std::string_view b) {
    if (!isPNGData(b)) return std::nullopt;
    std::string out(kPNGSignature);
    std::size_t i = kPNGSignature.size();
    for (;;) {
        if (i + 12 > b.size()) return std::nullopt;
        const std::size_t length = be32(b, i);
        if (length > 0x7FFFFFFFu || length > b.size() - i - 12) return std::nullopt;
        const std::string_view type = b.substr(i + 4, 4);
        for (char c : type)
            if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return std::nullopt;
        if (drawingChunk(type)) out.append(b.substr(i, 12 + length));
        i += 12 + length;
        if (type == "IEND") return out; // what follows is dropped
    }
}

} // namespace

std::optional<std::string> withoutMetadataBlocks(std::string_view bytes) {
    if (bytes.size() >= 3 && byteAt(bytes, 0) == 0xFF && byteAt(bytes, 1) == 0xD8 && byteAt(bytes, 2) == 0xFF)
        return jpegWithoutMetadata(bytes);
    return pngWithoutMetadata(bytes);
}

bool isPNGData(std::string_view bytes) { return bytes.substr(0, kPNGSignature.size()) == kPNGSignature; }

bool holdsInks(std::string_view bytes) {
    return detail::sniff(asBytes(bytes)) == detail::FileKind::jpeg && detail::holdsInks(asBytes(bytes));
}

int storedOrientation(const ImageMetadata& metadata) { return detail::orientationOf(metadata); }

Image turnedUpright(Image stored) {
    stored.pixels = detail::applyOrientation(stored.pixels, detail::orientationOf(stored.metadata));
    detail::setUpright(stored.metadata);
    return stored;
}

} // namespace image
