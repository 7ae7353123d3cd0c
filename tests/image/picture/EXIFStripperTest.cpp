#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include <lcms2.h>
#include <opencv2/imgcodecs.hpp>

#include "CoreImageFixtures.h"
#include "image/picture/EXIFStripper.h"
#include "image/picture/ImageCodecs.h"
#include "support/BrokenFiles.h"
#include "support/SmallDisk.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using image::EXIFStripper;
using Option = EXIFStripper::StripOption;

const EXIFStripper stripper;

void writeBytes(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

// An ICC profile of its own name, so the test can tell it survived.
fs::path writeProfile(const fs::path& path) {
    cmsHPROFILE profile = cmsCreate_sRGBProfile();
    cmsMLU* description = cmsMLUalloc(nullptr, 1);
    cmsMLUsetASCII(description, "en", "US", "Fixture Wide RGB");
    cmsWriteTag(profile, cmsSigProfileDescriptionTag, description);
    cmsMLUfree(description);
    cmsSaveProfileToFile(profile, path.string().c_str());
    cmsCloseProfile(profile);
    return path;
}

// A photo-like JPEG (noise, so the scan data is substantial).
fs::path plainJpeg(const fs::path& path, int width = 640, int height = 480) {
    cv::Mat bgr(height, width, CV_8UC3);
    cv::randu(bgr, cv::Scalar::all(0), cv::Scalar::all(255));
    cv::imwrite(path.string(), bgr, {cv::IMWRITE_JPEG_QUALITY, 90});
    return path;
}

// The JPEG with location (EXIF and XMP), camera data, artist, copyright,
// an orientation and a colour profile.
fs::path taggedJpeg(const testsupport::TempDir& dir, const std::string& name, int width = 640, int height = 480) {
    const fs::path path = plainJpeg(dir / name, width, height);
    const fs::path icc = writeProfile(dir / (name + ".icc"));
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-EXIF:GPSLatitude=40.7128",
                          "-EXIF:GPSLatitudeRef=N", "-EXIF:GPSLongitude=74.006", "-EXIF:GPSLongitudeRef=W",
                          "-XMP-exif:GPSLatitude=40.7128", "-XMP-exif:GPSLongitude=-74.006", "-Make=Canon",
                          "-Model=EOS R5", "-ExposureTime=0.008", "-FNumber=8", "-ISO=200",
                          "-DateTimeOriginal=2024:05:01 10:00:00", "-Artist=Jane Doe",
                          "-Copyright=(c) 2024 Jane Doe", "-Orientation=6", "-ICC_Profile<=" + icc.string(),
                          path.string()});
    return path;
}

// The entropy-coded picture: everything from the start-of-scan marker on.
std::vector<std::uint8_t> scanData(const fs::path& path) {
    const std::vector<std::uint8_t> bytes = coretest::fileBytes(path);
    for (std::size_t i = 2; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) return {bytes.begin() + static_cast<long>(i), bytes.end()};
    return {};
}

std::string tag(const fs::path& path, const std::string& name) { return coretest::exifTag(path, name); }

TEST(EXIFStripper, FixtureCarriesWhatTheStripperMustRemove) {
    testsupport::TempDir dir;
    const fs::path source = taggedJpeg(dir, "house.jpg");
    EXPECT_EQ(tag(source, "EXIF:GPSLatitude"), "40.7128");
    EXPECT_EQ(tag(source, "XMP:GPSLatitude"), "40.7128");
    EXPECT_EQ(tag(source, "EXIF:Make"), "Canon");
    EXPECT_EQ(tag(source, "ICC_Profile:ProfileDescription"), "Fixture Wide RGB");
    EXPECT_TRUE(stripper.containsGPS(source));
}

TEST(EXIFStripper, AllButOrientationKeepsScanOrientationArtistCopyrightAndProfile) {
    testsupport::TempDir dir;
    const fs::path source = taggedJpeg(dir, "house.jpg");
    const fs::path out = dir / "clean.jpg";
    stripper.stripMetadata(source, out, Option::stripAllExifExceptOrientation, 0.9);

    const auto before = scanData(source);
    ASSERT_FALSE(before.empty());
    EXPECT_EQ(scanData(out), before);
    EXPECT_EQ(tag(out, "EXIF:Orientation"), "6");
    EXPECT_EQ(tag(out, "EXIF:Artist"), "Jane Doe");
    EXPECT_EQ(tag(out, "EXIF:Copyright"), "(c) 2024 Jane Doe");
    EXPECT_EQ(tag(out, "ICC_Profile:ProfileDescription"), "Fixture Wide RGB");
    for (const char* gone : {"EXIF:GPSLatitude", "XMP:GPSLatitude", "XMP:GPSLongitude", "EXIF:Make", "EXIF:Model",
                             "EXIF:ExposureTime", "EXIF:FNumber", "EXIF:ISO", "EXIF:DateTimeOriginal"})
        EXPECT_EQ(tag(out, gone), "") << gone;
    EXPECT_FALSE(stripper.containsGPS(out));
    // The source is untouched.
    EXPECT_EQ(tag(source, "EXIF:Make"), "Canon");
}

TEST(EXIFStripper, GPSOnlyKeepsEverythingElse) {
    testsupport::TempDir dir;
    const fs::path source = taggedJpeg(dir, "house.jpg");
    const fs::path out = dir / "nogps.jpg";
    stripper.stripMetadata(source, out, Option::stripGPSOnly, 0.9);
    EXPECT_EQ(scanData(out), scanData(source));
    EXPECT_FALSE(stripper.containsGPS(out));
    EXPECT_EQ(tag(out, "EXIF:GPSLatitude"), "");
    EXPECT_EQ(tag(out, "XMP:GPSLatitude"), "");
    EXPECT_EQ(tag(out, "EXIF:Make"), "Canon");
    EXPECT_EQ(tag(out, "EXIF:ExposureTime"), "0.008");
    EXPECT_EQ(tag(out, "EXIF:Orientation"), "6");
    EXPECT_EQ(tag(out, "ICC_Profile:ProfileDescription"), "Fixture Wide RGB");
}

TEST(EXIFStripper, GPSOnlyOnAPhotoWithoutLocation) {
    testsupport::TempDir dir;
    const fs::path source = plainJpeg(dir / "plain.jpg");
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-Make=Nikon", source.string()});
    EXPECT_FALSE(stripper.containsGPS(source));
    const fs::path out = dir / "copy.jpg";
    stripper.stripMetadata(source, out, Option::stripGPSOnly, 0.9);
    EXPECT_FALSE(stripper.containsGPS(out));
    EXPECT_EQ(tag(out, "EXIF:Make"), "Nikon");
    EXPECT_EQ(scanData(out), scanData(source));
}

TEST(EXIFStripper, LocationOnlyInXmpCountsAsGPS) {
    testsupport::TempDir dir;
    const fs::path source = plainJpeg(dir / "xmp.jpg");
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-XMP-exif:GPSLatitude=51.5",
                          "-XMP-exif:GPSLongitude=-0.12", source.string()});
    EXPECT_EQ(tag(source, "EXIF:GPSLatitude"), "");
    EXPECT_TRUE(stripper.containsGPS(source));
    stripper.stripMetadata(source, source, Option::stripGPSOnly, 0.9);   // in place
    EXPECT_FALSE(stripper.containsGPS(source));
    EXPECT_EQ(tag(source, "XMP:GPSLongitude"), "");
}

TEST(EXIFStripper, EverythingDropsTheOrientationButKeepsTheProfile) {
    testsupport::TempDir dir;
    const fs::path source = taggedJpeg(dir, "turned.jpg");
    const fs::path out = dir / "bare.jpg";
    stripper.stripMetadata(source, out, Option::stripEverything, 0.9);
    EXPECT_EQ(scanData(out), scanData(source));
    for (const char* gone : {"EXIF:Orientation", "EXIF:Artist", "EXIF:Copyright", "EXIF:Make", "XMP:GPSLatitude"})
        EXPECT_EQ(tag(out, gone), "") << gone;
    EXPECT_EQ(tag(out, "ICC_Profile:ProfileDescription"), "Fixture Wide RGB");
    // Viewers show it as stored: 640 wide, not turned to 480.
    const auto shown = image::decodeImageFile(out);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->width(), 640);
}

TEST(EXIFStripper, RealWorldSizePhotoReplacedInPlace) {
    testsupport::TempDir dir;
    const fs::path source = taggedJpeg(dir, "listing.jpg", 1400, 1400);
    const auto scan = scanData(source);
    stripper.stripMetadata(source, source, Option::stripAllExifExceptOrientation, 0.85);
    EXPECT_EQ(scanData(source), scan);
    EXPECT_FALSE(stripper.containsGPS(source));
    EXPECT_EQ(tag(source, "EXIF:Artist"), "Jane Doe");
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);   // photo + profile
}

TEST(EXIFStripper, PngKeepsPixelsAndProfile) {
    testsupport::TempDir dir;
    const fs::path source = dir / "plan.png";
    cv::Mat bgr(120, 160, CV_8UC3);
    cv::randu(bgr, cv::Scalar::all(0), cv::Scalar::all(255));
    cv::imwrite(source.string(), bgr);
    const fs::path icc = writeProfile(dir / "p.icc");
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-XMP-exif:GPSLatitude=10.5", "-Artist=Jo",
                          "-ICC_Profile<=" + icc.string(), source.string()});
    ASSERT_TRUE(stripper.containsGPS(source));
    const fs::path out = dir / "clean.png";
    stripper.stripMetadata(source, out, Option::stripEverything, 0.9);
    EXPECT_FALSE(stripper.containsGPS(out));
    EXPECT_EQ(tag(out, "ICC_Profile:ProfileDescription"), "Fixture Wide RGB");
    const cv::Mat back = cv::imread(out.string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(back.size(), bgr.size());
    EXPECT_EQ(cv::norm(back, bgr, cv::NORM_INF), 0.0);
}

TEST(EXIFStripper, KeepEssentialsCopiesOnlyOrientationArtistAndCopyright) {
    image::ImageMetadata from;
    from.exif["Exif.Image.Make"] = "Canon";
    from.exif["Exif.Image.Artist"] = "A";
    from.exif["Exif.Image.Copyright"] = "C";
    from.exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
    from.xmp["Xmp.tiff.Orientation"] = "8";
    image::ImageMetadata into;
    EXIFStripper::keepEssentials(from, into);
    EXPECT_EQ(into.exif.count(), 3);
    EXPECT_EQ(into.exif["Exif.Image.Orientation"].toLong(), 8);
    EXPECT_EQ(into.exif["Exif.Image.Artist"].toString(), "A");
    EXPECT_EQ(into.exif["Exif.Image.Copyright"].toString(), "C");
    EXPECT_TRUE(into.xmp.empty());
}

struct TurnedHeicCase {
    Option option;
    bool upright;   // shown turned as the source was
};
class EXIFStripperHeic : public ::testing::TestWithParam<TurnedHeicCase> {};

TEST_P(EXIFStripperHeic, IsEncodedAgain) {
    testsupport::TempDir dir;
    const fs::path source = dir / "phone.heic";
    coretest::writeTurnedHeic(source, 64, 48, 6);
    testsupport::runTool({"exiftool", "-q", "-overwrite_original", "-n", "-EXIF:GPSLatitude=40.7",
                          "-EXIF:GPSLatitudeRef=N", source.string()});
    ASSERT_TRUE(stripper.containsGPS(source));
    const auto original = image::decodeImageFile(source);
    ASSERT_TRUE(original);

    const fs::path out = dir / "clean.heic";
    stripper.stripMetadata(source, out, GetParam().option, 0.9);
    const auto bytes = coretest::fileBytes(out);
    ASSERT_GT(bytes.size(), 12u);
    EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 12), "ftypheic");
    EXPECT_FALSE(stripper.containsGPS(out));
    // Encoded again: the stored pixels are now as they are shown.
    const auto stored = image::decodeImageFile(out, image::DecodeOptions{false, true, true});
    const auto shown = image::decodeImageFile(out);
    ASSERT_TRUE(stored && shown);
    EXPECT_EQ(coretest::redCorner(stored->pixels), coretest::redCorner(shown->pixels));
    if (GetParam().upright) {
        EXPECT_EQ(shown->width(), 48);
        EXPECT_EQ(coretest::redCorner(shown->pixels), coretest::redCorner(original->pixels));
    } else {
        EXPECT_EQ(shown->width(), 64);
        EXPECT_EQ(coretest::redCorner(shown->pixels), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Options, EXIFStripperHeic,
                         ::testing::Values(TurnedHeicCase{Option::stripGPSOnly, true},
                                           TurnedHeicCase{Option::stripAllExifExceptOrientation, true},
                                           TurnedHeicCase{Option::stripEverything, false}),
                         [](const auto& info) {
                             switch (info.param.option) {
                             case Option::stripGPSOnly: return std::string("gpsOnly");
                             case Option::stripAllExifExceptOrientation: return std::string("allButOrientation");
                             default: return std::string("everything");
                             }
                         });

TEST(EXIFStripper, ErrorTexts) {
    testsupport::TempDir dir;
    const fs::path missing = dir / "nowhere.jpg";
    try {
        stripper.stripMetadata(missing, dir / "out.jpg", Option::stripGPSOnly, 0.9);
        FAIL() << "no error";
    } catch (const EXIFStripper::EXIFError& e) {
        EXPECT_EQ(e.kind(), EXIFStripper::EXIFError::Kind::cannotOpenImageSource);
        EXPECT_EQ(std::string(e.what()), "Cannot open image source at " + missing.string());
    }

    const fs::path notes = dir / "notes.jpg";
    writeBytes(notes, "these are not the pixels you are looking for");
    try {
        stripper.stripMetadata(notes, dir / "out.jpg", Option::stripGPSOnly, 0.9);
        FAIL() << "no error";
    } catch (const EXIFStripper::EXIFError& e) {
        EXPECT_EQ(std::string(e.what()), "Unsupported image type for notes.jpg");
    }

    const fs::path source = taggedJpeg(dir, "house.jpg");
    const fs::path nowhere = dir / "missing" / "out.jpg";
    try {
        stripper.stripMetadata(source, nowhere, Option::stripGPSOnly, 0.9);
        FAIL() << "no error";
    } catch (const EXIFStripper::EXIFError& e) {
        EXPECT_EQ(e.kind(), EXIFStripper::EXIFError::Kind::failedToWriteImage);
        EXPECT_EQ(std::string(e.what()), "Failed to finalize and write image to " + nowhere.string() + ": No such file or directory");
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_TRUE(stripper.containsGPS(source));   // the source is whole
    EXPECT_FALSE(stripper.containsGPS(missing));
    EXPECT_FALSE(stripper.containsGPS(notes));

    EXPECT_EQ(std::string(EXIFStripper::EXIFError::cannotCreateImageDestination("/x/y.cr2").what()),
              "Cannot create image destination at /x/y.cr2");
}

TEST(EXIFStripper, UndecodableSourceIsNamedWithTheReason) {
    testsupport::TempDir dir;
    struct Case {
        fs::path source;
        std::string reason;
    };
    const std::vector<Case> cases{
        {testsupport::cutFile(testsupport::magickPicture(dir / "cut.png", 400, 300), 0.4),
         "the file is damaged: the picture data can't be decoded"},
        {testsupport::pngHeaderClaiming(dir / "bomb.png", 60000, 60000),
         "60000 \u00d7 60000 is over the 300-megapixel limit"},
        // An EXR signature: no rewrite, no decode, and still the source is named.
        {[&] {
             core::writeFileAtomically(dir / "broken.exr", std::string("\x76\x2F\x31\x01\x02\0\0\0junk", 12));
             return dir / "broken.exr";
         }(),
         "the file is damaged: the header can't be read"},
    };
    for (const auto& c : cases) {
        const fs::path out = dir / ("out" + c.source.extension().string());
        try {
            stripper.stripMetadata(c.source, out, Option::stripGPSOnly, 0.9);
            ADD_FAILURE() << "no error for " << c.source;
        } catch (const EXIFStripper::EXIFError& e) {
            EXPECT_EQ(e.kind(), EXIFStripper::EXIFError::Kind::cannotOpenImageSource);
            EXPECT_EQ(std::string(e.what()), "Cannot open image source at " + c.source.string() + ": " + c.reason);
        }
        EXPECT_FALSE(fs::exists(out));
    }
}

TEST(EXIFStripper, AFullDiskKeepsTheSystemsReason) {
    testsupport::TempDir dir;
    const fs::path source = taggedJpeg(dir, "house.jpg", 1600, 1200);
    testsupport::SmallDisk disk(64 * 1024);
    const fs::path out = disk.path() / "house_Print.jpg";
    try {
        stripper.stripMetadata(source, out, Option::stripGPSOnly, 0.9);
        FAIL() << "the copy fitted";
    } catch (const EXIFStripper::EXIFError& e) {
        EXPECT_EQ(e.kind(), EXIFStripper::EXIFError::Kind::failedToWriteImage);
        EXPECT_EQ(std::string(e.what()), "Failed to finalize and write image to " + out.string() + ": " + disk.fullText());
    }
    EXPECT_FALSE(fs::exists(out));
}

} // namespace
