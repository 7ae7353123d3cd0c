#pragma once

// Inputs that must fail, made for a test: special files named like
// pictures, headers without pictures, and real pictures cut short.

#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include <fmt/format.h>
#include <gtest/gtest.h>

#include "core/Files.h"
#include "support/TestSupport.h"

namespace testsupport {

// A FIFO: opening it for reading blocks until a writer comes.
inline fs::path makeFifo(const fs::path& path) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
    return path;
}

// A link to /dev/zero, which reads on for ever.
inline fs::path linkToZeros(const fs::path& path) {
    fs::create_symlink("/dev/zero", path);
    return path;
}

// ImageMagick's built-in rose at width x height, in the format the name's
// extension gives, with extra options before the output ("-compress RLE").
inline fs::path magickPicture(const fs::path& path, int width, int height, const std::vector<std::string>& options = {}) {
    std::vector<std::string> argv{"convert", "rose:", "-resize", fmt::format("{}x{}!", width, height)};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(path.string());
    runTool(argv);
    return path;
}

// Keeps the first `fraction` of the file's bytes.
inline fs::path cutFile(const fs::path& path, double fraction) {
    const auto size = fs::file_size(path);
    fs::resize_file(path, static_cast<std::uintmax_t>(std::floor(static_cast<double>(size) * fraction)));
    return path;
}

// The 18-byte header of an uncompressed 24-bit TGA of width x height and
// nothing after it.
inline fs::path tgaHeaderOnly(const fs::path& path, int width, int height) {
    std::string header(18, '\0');
    header[2] = 2; // uncompressed true colour
    header[12] = static_cast<char>(width & 0xFF);
    header[13] = static_cast<char>(width >> 8);
    header[14] = static_cast<char>(height & 0xFF);
    header[15] = static_cast<char>(height >> 8);
    header[16] = 24;
    core::writeFileAtomically(path, header);
    return path;
}

// A PNG signature and IHDR claiming width x height, with no picture data.
inline fs::path pngHeaderClaiming(const fs::path& path, std::uint32_t width, std::uint32_t height) {
    std::string bytes("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16);
    for (const std::uint32_t v : {width, height})
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>((v >> shift) & 0xFF);
    bytes += std::string("\x08\x06\0\0\0\0\0\0\0", 9); // 8-bit RGBA, a CRC nobody checks first
    core::writeFileAtomically(path, bytes);
    return path;
}

// A place in a JPEG's picture data: `percent` of the way into its longest
// entropy-coded segment (a scan's data up to the next marker other than a
// restart marker), moved on so that it splits no FF 00 pair and starts no
// marker.
inline std::size_t placeInScanData(const std::string& bytes, int percent) {
    auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(bytes.at(i)); };
    std::size_t start = 0, end = 0;
    for (std::size_t i = 2; i + 4 < bytes.size() && at(i + 1) != 0xD9;) {
        const std::size_t segment = i + 2 + (std::size_t{at(i + 2)} << 8 | at(i + 3));
        if (at(i + 1) != 0xDA) {
            i = segment;
            continue;
        }
        std::size_t j = segment;
        while (!(at(j) == 0xFF && at(j + 1) != 0 && (at(j + 1) < 0xD0 || at(j + 1) > 0xD7))) ++j;
        if (j - segment > end - start) std::tie(start, end) = std::tuple(segment, j);
        i = j;
    }
    std::size_t place = start + (end - start) * static_cast<std::size_t>(percent) / 100;
    while (at(place - 1) == 0xFF || at(place) == 0xFF) ++place;
    return place;
}

// 32 bytes of no pattern a decoder would know, and no 0xFF (so no marker).
inline std::string scrambledBytes() {
    std::string bytes;
    for (int k = 0; k < 32; ++k) bytes += static_cast<char>((k * 89 + 43) % 255);
    return bytes;
}

// `patch` put into a JPEG's picture data (the middle unless `percent`
// says otherwise): inserted, or over as many bytes.
enum class ScanPatch { insert, overwrite };
inline fs::path patchScanData(const fs::path& path, ScanPatch how, const std::string& patch, int percent = 50) {
    auto bytes = core::readFile(path);
    const std::size_t at = placeInScanData(bytes, percent);
    if (how == ScanPatch::insert) bytes.insert(at, patch);
    else bytes.replace(at, patch.size(), patch);
    core::writeFileAtomically(path, bytes);
    return path;
}

// `bytes` put before a JPEG's first marker `marker` (0xD9 the end, 0xDA the
// first scan).
inline fs::path insertBeforeMarker(const fs::path& path, std::uint8_t marker, const std::string& bytes) {
    auto file = core::readFile(path);
    const auto at = marker == 0xD9 ? file.rfind("\xFF\xD9") : file.find(std::string{'\xFF', static_cast<char>(marker)});
    EXPECT_NE(at, std::string::npos) << path;
    if (at != std::string::npos) file.insert(at, bytes);
    core::writeFileAtomically(path, file);
    return path;
}

// Three stray bytes before the first quantisation table of a JPEG: the
// picture stays whole, libjpeg warns "extraneous bytes before marker".
inline fs::path strayBytesBeforeTables(const fs::path& path) { return insertBeforeMarker(path, 0xDB, "\x01\x02\x03"); }

// The byte `offset` bytes into the first `found` in a file set to `value`.
inline fs::path withByteAfter(const fs::path& path, const std::string& found, std::size_t offset, int value) {
    auto bytes = core::readFile(path);
    const auto at = bytes.find(found);
    EXPECT_NE(at, std::string::npos) << path;
    if (at != std::string::npos) bytes.at(at + offset) = static_cast<char>(value);
    core::writeFileAtomically(path, bytes);
    return path;
}

// A JPEG's JFIF header set to version major.minor: libjpeg warns "unknown
// JFIF revision number 2.01" for a 2.x, though the picture is whole.
inline fs::path withJfifVersion(const fs::path& path, int major, int minor) {
    auto bytes = core::readFile(path);
    const auto at = bytes.find(std::string("JFIF\0", 5));
    EXPECT_NE(at, std::string::npos) << path;
    if (at != std::string::npos) {
        bytes.at(at + 5) = static_cast<char>(major);
        bytes.at(at + 6) = static_cast<char>(minor);
    }
    core::writeFileAtomically(path, bytes);
    return path;
}

// A JPEG's Adobe marker set to colour transform `code` (after "Adobe", the
// version and two flag words): libjpeg warns "Unknown Adobe color transform
// code 1" for a CMYK file and reads it as YCCK, which ImageMagick writes.
inline fs::path withAdobeTransform(const fs::path& path, int code) { return withByteAfter(path, "Adobe", 11, code); }

// A 12-bit greyscale JPEG (extended sequential), made by GDAL from a 16-bit
// TIFF of ImageMagick's rose.
inline fs::path twelveBitJpeg(const fs::path& path) {
    const fs::path deep = path.parent_path() / (path.stem().string() + "-16bit.tif");
    magickPicture(deep, 32, 24, {"-colorspace", "Gray", "-depth", "16"});
    runTool({"gdal_translate", "-q", "-of", "JPEG", "-ot", "UInt16", "-scale", "0", "65535", "0", "4095",
             deep.string(), path.string()});
    return path;
}

// A lossless JPEG (SOF3) of ImageMagick's rose, made by FFmpeg's encoder.
inline fs::path losslessJpeg(const fs::path& path) {
    const fs::path png = path.parent_path() / (path.stem().string() + ".png");
    magickPicture(png, 32, 24);
    runTool({"ffmpeg", "-nostdin", "-loglevel", "error", "-y", "-i", png.string(), "-c:v", "ljpeg", "-strict", "-1",
             "-pix_fmt", "bgr24", path.string()});
    return path;
}

// A baseline JPEG's frame marker (SOF0) changed to `marker`: libjpeg stops
// at the marker of a process it doesn't decode before reading the frame.
inline fs::path withFrameMarker(const fs::path& path, std::uint8_t marker) {
    return withByteAfter(path, "\xFF\xC0", 1, marker);
}

namespace detail {
inline void appendBigEndian(std::string& bytes, std::uint32_t value, int size) {
    for (int shift = 8 * (size - 1); shift >= 0; shift -= 8) bytes += static_cast<char>((value >> shift) & 0xFF);
}
} // namespace detail

// A Photoshop header claiming an RGBA document of width x height at `depth`
// bits, empty colour-mode, resource and layer sections, and the picture
// data's compression (0 raw, 1 RLE). Raw gives no picture data at all; RLE
// gives the table of row byte counts (each the least a row can take) and
// no rows.
inline fs::path photoshopHeaderClaiming(const fs::path& path, std::uint32_t width, std::uint32_t height,
                                        std::uint16_t depth, std::uint16_t compression) {
    constexpr std::uint32_t kChannels = 4;
    std::string bytes("8BPS\0\x01\0\0\0\0\0\0", 12);
    detail::appendBigEndian(bytes, kChannels, 2);
    detail::appendBigEndian(bytes, height, 4);
    detail::appendBigEndian(bytes, width, 4);
    detail::appendBigEndian(bytes, depth, 2);
    detail::appendBigEndian(bytes, 3, 2); // RGB
    bytes.append(12, '\0');               // three empty sections
    detail::appendBigEndian(bytes, compression, 2);
    if (compression == 1) {
        const std::uint32_t rowBytes = width * depth / 8;
        const std::uint32_t count = 2 * ((rowBytes + 127) / 128); // runs of 128 repeats
        for (std::uint32_t row = 0; row < kChannels * height; ++row) detail::appendBigEndian(bytes, count, 2);
    }
    core::writeFileAtomically(path, bytes);
    return path;
}

// A whole RGB Photoshop document (ImageMagick's rose) with one field
// changed: the version, the depth, the colour mode or the picture data's
// compression.
enum class PhotoshopField { version, depth, mode, compression };
inline fs::path photoshopWith(const fs::path& path, PhotoshopField field, std::uint16_t value) {
    magickPicture(path, 16, 16, {"-type", "TrueColor"});
    auto bytes = core::readFile(path);
    std::size_t at = 0;
    switch (field) {
    case PhotoshopField::version: at = 4; break;
    case PhotoshopField::depth: at = 22; break;
    case PhotoshopField::mode: at = 24; break;
    case PhotoshopField::compression:
        at = 26;
        for (int section = 0; section < 3; ++section) {
            std::uint32_t length = 0;
            for (int i = 0; i < 4; ++i) length = (length << 8) | static_cast<std::uint8_t>(bytes.at(at + i));
            at += 4 + length;
        }
        break;
    }
    bytes.at(at) = static_cast<char>(value >> 8);
    bytes.at(at + 1) = static_cast<char>(value & 0xFF);
    core::writeFileAtomically(path, bytes);
    return path;
}

// The process's peak resident size so far, in KiB. A budget checked with it
// holds only when !kUnderSanitizer.
inline long peakResidentKiB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace testsupport
