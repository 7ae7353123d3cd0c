#pragma once

// Inputs that must fail, made for a test: special files named like
// pictures, headers without pictures, and real pictures cut short.

#include <sys/resource.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <string>
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

// Three stray bytes before the first quantisation table of a JPEG: the
// picture stays whole, libjpeg warns "extraneous bytes before marker".
inline fs::path strayBytesBeforeTables(const fs::path& path) {
    auto bytes = core::readFile(path);
    const auto tables = bytes.find("\xFF\xDB");
    EXPECT_NE(tables, std::string::npos) << path;
    if (tables != std::string::npos) bytes.insert(tables, "\x01\x02\x03");
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
inline fs::path withAdobeTransform(const fs::path& path, int code) {
    auto bytes = core::readFile(path);
    const auto at = bytes.find("Adobe");
    EXPECT_NE(at, std::string::npos) << path;
    if (at != std::string::npos) bytes.at(at + 11) = static_cast<char>(code);
    core::writeFileAtomically(path, bytes);
    return path;
}

// A 12-bit greyscale JPEG (extended sequential), made by GDAL from a 16-bit
// TIFF of ImageMagick's rose.
inline fs::path twelveBitJpeg(const fs::path& path) {
    const fs::path deep = path.parent_path() / (path.stem().string() + "-16bit.tif");
    magickPicture(deep, 32, 24, {"-colorspace", "Gray", "-depth", "16"});
    runTool({"gdal_translate", "-q", "-of", "JPEG", "-ot", "UInt16", "-scale", "0", "65535", "0", "4095",
             deep.string(), path.string()});
    return path;
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
