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

// The process's peak resident size so far, in KiB.
inline long peakResidentKiB() {
    struct rusage usage {};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace testsupport
