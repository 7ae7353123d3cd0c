#pragma once

// Pictures in a print workflow's colours, and what lcms2 makes of them: the
// reference every conversion of inks to sRGB is held to.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <lcms2.h>
#include <opencv2/core.hpp>

#include "core/Files.h"
#include "image/picture/ImageCodecs.h"
#include "support/BrokenFiles.h"
#include "support/TestSupport.h"

namespace testsupport {

// Ghostscript's profiles (libgs-common).
inline const fs::path kProfiles = "/usr/share/color/icc/ghostscript";

inline std::vector<std::uint8_t> bytesOf(const fs::path& path) {
    const std::string s = core::readFile(path);
    return {s.begin(), s.end()};
}

// What an ICC profile describes: "RGB", "CMYK", "GRAY"; "none" without one.
inline std::string colourSpaceOf(const std::vector<std::uint8_t>& icc) {
    if (icc.empty()) return "none";
    cmsHPROFILE profile = cmsOpenProfileFromMem(icc.data(), static_cast<cmsUInt32Number>(icc.size()));
    if (!profile) return "broken";
    const cmsColorSpaceSignature space = cmsGetColorSpace(profile);
    cmsCloseProfile(profile);
    switch (space) {
    case cmsSigRgbData: return "RGB";
    case cmsSigCmykData: return "CMYK";
    case cmsSigGrayData: return "GRAY";
    default: return "other";
    }
}

// A print workflow's file: the rose turned into SWOP CMYK by ImageMagick,
// which embeds the CMYK profile as Photoshop does; `options` are
// ImageMagick's for the file (its compression, depth, tiles).
inline fs::path profiledCmyk(const fs::path& dir, const std::string& name, const std::vector<std::string>& options = {}) {
    const fs::path photo = magickPicture(dir / "photo.png", 160, 120);
    const fs::path cmyk = dir / name;
    std::vector<std::string> argv{"convert", photo.string(), "-profile", (kProfiles / "srgb.icc").string(),
                                  "-profile", (kProfiles / "default_cmyk.icc").string()};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.push_back(cmyk.string());
    runTool(argv);
    return cmyk;
}

inline fs::path profiledCmykJpeg(const fs::path& dir) { return profiledCmyk(dir, "cmyk.jpg"); }

// The file's inks as ImageMagick reads them (0 is no ink, 8 bits) taken to sRGB
// by lcms2 through the profile the file carries, as printed (relative
// colorimetric).
inline cv::Mat lcmsConversion(const fs::path& cmykFile, const fs::path& dir) {
    const fs::path raw = dir / "inks.cmyk", icc = dir / "embedded.icc";
    runTool({"convert", cmykFile.string(), "-depth", "8", "cmyk:" + raw.string()});
    runTool({"convert", cmykFile.string(), icc.string()});
    const auto header = image::loadPixelSize(cmykFile);
    auto inks = bytesOf(raw);
    EXPECT_EQ(inks.size(), static_cast<std::size_t>(header.width) * header.height * 4);
    const auto profileBytes = bytesOf(icc);
    EXPECT_EQ(colourSpaceOf(profileBytes), "CMYK");
    cmsHPROFILE source = cmsOpenProfileFromMem(profileBytes.data(), static_cast<cmsUInt32Number>(profileBytes.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM transform = cmsCreateTransform(source, TYPE_CMYK_8, srgb, TYPE_RGBA_8, INTENT_RELATIVE_COLORIMETRIC, 0);
    cv::Mat rgba(header.height, header.width, CV_8UC4, cv::Scalar::all(255));
    if (transform)
        cmsDoTransform(transform, inks.data(), rgba.data, static_cast<cmsUInt32Number>(rgba.total()));
    EXPECT_NE(transform, nullptr);
    cmsDeleteTransform(transform);
    cmsCloseProfile(srgb);
    cmsCloseProfile(source);
    return rgba;
}

} // namespace testsupport
