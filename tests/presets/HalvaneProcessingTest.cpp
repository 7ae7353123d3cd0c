// The real-estate preset's rules: crops, names, texts, bracket leaders, GPS
// removal and the web size search, on real pictures and real encodings.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "HalvanePhotos.h"
#include "batch/BatchItem.h"
#include "presets/HalvanePreset.h"
#include "support/BrokenFiles.h"
#include "support/TestSupport.h"

namespace {

using presets::HalvanePreset;
using presets::WebAspect;
using CropRect = HalvanePreset::CropRect;
namespace fs = std::filesystem;

struct CropCase {
    int width;
    int height;
    WebAspect aspect;
    std::optional<CropRect> expected;
};

class HalvaneCrop : public ::testing::TestWithParam<CropCase> {};

TEST_P(HalvaneCrop, KeepsTheCentreOfLandscapePhotos) {
    const auto& c = GetParam();
    EXPECT_EQ(HalvanePreset::cropRect(c.width, c.height, c.aspect), c.expected);
    // The picture itself, cut from a marked source.
    cv::Mat pixels(c.height, c.width, CV_8UC4);
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x)
            pixels.at<cv::Vec4b>(y, x) = cv::Vec4b(static_cast<std::uint8_t>(x % 251),
                                                   static_cast<std::uint8_t>(y % 241), 7, 255);
    const image::Image out = HalvanePreset::cropped(image::Image{pixels, {}}, c.aspect);
    if (!c.expected) {
        EXPECT_EQ(out.pixels.data, pixels.data); // the very same picture
        return;
    }
    ASSERT_EQ(out.width(), c.expected->width);
    ASSERT_EQ(out.height(), c.expected->height);
    EXPECT_EQ(out.pixels.at<cv::Vec4b>(0, 0), pixels.at<cv::Vec4b>(c.expected->y, c.expected->x));
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, HalvaneCrop,
    ::testing::Values(CropCase{4000, 3000, WebAspect::sixteenNine, CropRect{0, 375, 4000, 2250}},
                      CropCase{6000, 4000, WebAspect::fourThree, CropRect{334, 0, 5333, 4000}},
                      CropCase{3000, 2250, WebAspect::fourThree, std::nullopt},
                      CropCase{2000, 3000, WebAspect::threeTwo, std::nullopt}, // portrait
                      CropCase{1500, 1500, WebAspect::sixteenNine, std::nullopt}, // square
                      CropCase{4000, 3000, WebAspect::original, std::nullopt},
                      // 333 spare rows: 167 below (half rounded up from the bottom), 166 above.
                      CropCase{4000, 3000, WebAspect::threeTwo, CropRect{0, 166, 4000, 2667}},
                      // 1 row too many: the offset rounds from the bottom up.
                      CropCase{1600, 901, WebAspect::sixteenNine, CropRect{0, 0, 1600, 900}},
                      CropCase{1601, 900, WebAspect::sixteenNine, CropRect{1, 0, 1600, 900}}));

TEST(HalvaneTexts, StraightenLogTurnsTheRollAndIgnoresTheLocale) {
    image::ArchitecturalStraightener::StraightenParameters p;
    p.rotationAngleRadians = -0.0125;
    p.verticalKeystoneCorrection = 0.034;
    p.linesDetected = 57;
    const std::string expected = "IMG_1: corrected 0.72\u00b0 roll, 3.4% keystone (57 lines)";
    EXPECT_EQ(HalvanePreset::straightenLogLine("IMG_1", p), expected);
    {
        testsupport::CommaDecimalLocale comma;
        if (!comma.available()) GTEST_SKIP() << "no comma-decimal locale installed";
        EXPECT_EQ(HalvanePreset::straightenLogLine("IMG_1", p), expected);
    }
    p.rotationAngleRadians = 0.00009;
    p.verticalKeystoneCorrection = -0.00009;
    p.linesDetected = 12;
    EXPECT_EQ(HalvanePreset::straightenLogLine("IMG_1", p), "IMG_1: verticals already straight (12 lines checked)");
    p.verticalKeystoneCorrection = 0.01;
    EXPECT_EQ(HalvanePreset::straightenLogLine("IMG_1", p), "IMG_1: corrected -0.01\u00b0 roll, 1.0% keystone (12 lines)");
}

TEST(HalvaneTexts, WebProgressShowsWholeMegabytes) {
    EXPECT_EQ(HalvanePreset::webProgressMessage(2000), "Optimizing Web MLS Package (< 2MB)...");
    EXPECT_EQ(HalvanePreset::webProgressMessage(10000), "Optimizing Web MLS Package (< 10MB)...");
    EXPECT_EQ(HalvanePreset::webProgressMessage(500), "Optimizing Web MLS Package (< 0MB)...");
    EXPECT_EQ(HalvanePreset::webProgressMessage(1999), "Optimizing Web MLS Package (< 1MB)...");
}

TEST(HalvaneTexts, BracketTexts) {
    EXPECT_EQ(HalvanePreset::bracketSkipReason("B", "/shoot/A.jpg"), "B is merged into A.jpg's bracket");
    EXPECT_EQ(HalvanePreset::mergeLogLine("A", {"/s/A.jpg", "/s/B.jpg", "/s/C.jpg"}),
              "A: merged 3 exposures (A.jpg, B.jpg, C.jpg)");
}

TEST(HalvaneRules, NamesAndFolders) {
    HalvanePreset p;
    batch::BatchItem item(core::Uuid::random(), "/in/IMG 7.JPG");
    EXPECT_EQ(p.outputFileName(HalvanePreset::OutputSet::print, item, p.defaultNamingPattern(), 1, 9),
              "1042_Maple_Lane_01_Print.jpg");
    EXPECT_EQ(p.outputFileName(HalvanePreset::OutputSet::web, item, p.defaultNamingPattern(), 12, 20),
              "1042_Maple_Lane_12_Web.jpg");
    p.propertyAddress = "7 Elm/Rd";
    EXPECT_EQ(p.outputFileName(HalvanePreset::OutputSet::web, item, "{name}-{size}-{address}", 1, 1),
              "IMG 7-Web-7 Elm_Rd.jpg");
    EXPECT_EQ(p.folderName(HalvanePreset::OutputSet::print), "Print_Package");
    EXPECT_EQ(p.folderName(HalvanePreset::OutputSet::web), "MLS_Web_Package");
    p.setPortal(presets::Portal::zillow);
    EXPECT_EQ(p.folderName(HalvanePreset::OutputSet::web), "Zillow_Package");
    p.setPortal(presets::Portal::airbnb);
    EXPECT_EQ(p.folderName(HalvanePreset::OutputSet::web), "Airbnb_Package");
    p.setPortal(presets::Portal::custom);
    EXPECT_EQ(p.folderName(HalvanePreset::OutputSet::web), "MLS_Web_Package");
}

TEST(HalvaneRules, BracketLeaderIsTheFirstPhotoInTheJob) {
    const std::vector<fs::path> bracket{"/s/A.jpg", "/s/B.jpg", "/s/C.jpg"};
    EXPECT_EQ(HalvanePreset::bracketLeader(bracket, {"/s/A.jpg", "/s/B.jpg", "/s/C.jpg"}), "/s/A.jpg");
    EXPECT_EQ(HalvanePreset::bracketLeader(bracket, {"/s/C.jpg", "/s/./B.jpg"}), "/s/B.jpg");
    EXPECT_EQ(HalvanePreset::bracketLeader(bracket, {"/s/x/../C.jpg"}), "/s/C.jpg");
    EXPECT_EQ(HalvanePreset::bracketLeader(bracket, {}), "/s/A.jpg"); // job unknown
}

TEST(HalvaneRules, WatermarkOptions) {
    const auto o = HalvanePreset::watermarkOptions(0.6);
    EXPECT_EQ(o, (image::WatermarkRenderer::WatermarkOptions{0.6, 0.18, 0.03,
                                                             image::WatermarkRenderer::WatermarkPosition::bottomRight}));
}

TEST(HalvaneRules, WithoutGPSRemovesExifAndXmpLocation) {
    testsupport::TempDir dir;
    const fs::path file = dir / "gps.jpg";
    halvanetest::writeJpeg(file, halvanetest::photoPixels(320, 240));
    halvanetest::tagAsCamera(file);
    const auto loaded = image::CoreImagePipeline::shared().loadImage(file);
    ASSERT_TRUE(loaded);
    const auto stripped = HalvanePreset::withoutGPS(loaded->metadata);
    const auto pipeline = &image::CoreImagePipeline::shared();
    const auto bytes = pipeline->jpegData(*loaded, 0.9, &stripped);
    ASSERT_TRUE(bytes);
    const fs::path out = dir / "out.jpg";
    core::writeFileAtomically(out, std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    EXPECT_NE(halvanetest::gpsTags(file).find("GPSLatitude"), std::string::npos); // the check can see it
    EXPECT_EQ(halvanetest::gpsTags(out).find("GPS"), std::string::npos) << halvanetest::gpsTags(out);
    EXPECT_EQ(halvanetest::exifValue(out, "Model"), "Canon EOS R5");
    EXPECT_EQ(halvanetest::exifValue(out, "Artist"), "Jo Lens");
}

// ---- the web size search ----------------------------------------------

image::Image loadedPhoto(const fs::path& dir, int width, int height, double noise) {
    const fs::path file = dir / "photo.jpg";
    halvanetest::writeJpeg(file, halvanetest::photoPixels(width, height, 3, noise));
    halvanetest::tagAsCamera(file);
    auto img = image::CoreImagePipeline::shared().loadImage(file);
    EXPECT_TRUE(img);
    return img ? *img : image::Image{};
}

TEST(HalvaneSizeSearch, FirstFittingEncodingWinsAndCountsEveryByte) {
    testsupport::TempDir dir;
    const auto photo = loadedPhoto(dir.path(), 3000, 2000, 0.05);
    HalvanePreset p;
    // A cap between the first two encodings: the second quality wins.
    std::vector<HalvanePreset::WebEncoding> tried;
    p.maxWebFileSizeKB = 1 << 30;
    p.encodeUnderSizeCap(photo, photo.metadata, image::CoreImagePipeline::shared(), &tried);
    ASSERT_EQ(tried.size(), 1u);
    EXPECT_EQ(tried[0].width, 2048);
    EXPECT_EQ(tried[0].height, 1365);
    const std::size_t first = tried[0].bytes;

    tried.clear();
    p.maxWebFileSizeKB = static_cast<std::int64_t>(first / 1024) - 1;
    const auto bytes = p.encodeUnderSizeCap(photo, photo.metadata, image::CoreImagePipeline::shared(), &tried);
    ASSERT_GE(tried.size(), 2u);
    EXPECT_DOUBLE_EQ(tried[1].quality, 0.78);
    EXPECT_EQ(bytes.size(), tried.back().bytes); // the bytes measured are the bytes returned
    EXPECT_LE(bytes.size(), static_cast<std::size_t>(p.maxWebFileSizeKB) * 1024);
    // Metadata counts: the returned data carries the camera EXIF.
    const fs::path out = dir / "web.jpg";
    core::writeFileAtomically(out, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    EXPECT_EQ(fs::file_size(out), tried.back().bytes);
    EXPECT_EQ(halvanetest::exifValue(out, "Model"), "Canon EOS R5");
}

TEST(HalvaneSizeSearch, AnImpossibleCapFailsAfterThirtyEncodings) {
    testsupport::TempDir dir;
    const auto photo = loadedPhoto(dir.path(), 3000, 2000, 0.2);
    HalvanePreset p;
    p.maxWebFileSizeKB = 50;
    std::vector<HalvanePreset::WebEncoding> tried;
    try {
        p.encodeUnderSizeCap(photo, photo.metadata, image::CoreImagePipeline::shared(), &tried);
        FAIL() << "no error";
    } catch (const HalvanePreset::PresetError& e) {
        EXPECT_STREQ(e.what(), "Could not get the web image under 50 KB");
    }
    ASSERT_EQ(tried.size(), 30u);
    // Longest sides: 2048 x 0.85^pass, qualities in order within each pass.
    const int expectedWidths[] = {2048, 1741, 1480, 1258, 1069, 909};
    for (std::size_t i = 0; i < tried.size(); ++i) {
        EXPECT_EQ(tried[i].width, expectedWidths[i / 5]) << i;
        EXPECT_DOUBLE_EQ(tried[i].quality, HalvanePreset::kWebQualities[i % 5]) << i;
    }
}

TEST(HalvaneSizeSearch, PassesOfTheSameSizeAreNotEncodedTwice) {
    testsupport::TempDir dir;
    // Smaller than the three first pass dimensions (2048, 1741, 1480): they
    // all leave it at 1400 x 1050, so only the first of them is encoded.
    const auto photo = loadedPhoto(dir.path(), 1400, 1050, 0.2);
    HalvanePreset p;
    p.maxWebFileSizeKB = 50;
    std::vector<HalvanePreset::WebEncoding> tried;
    EXPECT_THROW(p.encodeUnderSizeCap(photo, photo.metadata, image::CoreImagePipeline::shared(), &tried),
                 HalvanePreset::PresetError);
    ASSERT_EQ(tried.size(), 20u);
    EXPECT_EQ(tried[0].width, 1400);
    EXPECT_EQ(tried[4].width, 1400);
    EXPECT_EQ(tried[5].width, 1258);
    EXPECT_EQ(tried[10].width, 1069);
    EXPECT_EQ(tried[15].width, 909);
}

// Files that give no photo: the batch ends, every item fails with its own
// text, nothing is written, and nothing is read from a FIFO or /dev/zero.
TEST(HalvaneInputs, PhotosThatGiveNoPictureFailByNameAndWriteNothing) {
    testsupport::TempDir dir;
    core::writeFileAtomically(dir / "empty.jpg", "");
    core::writeFileAtomically(dir / "notes.jpg", "these are no pixels");
    fs::create_directory(dir / "folder.jpg");
    fs::create_symlink(dir / "gone.jpg", dir / "dangling.jpg");
    testsupport::pngHeaderClaiming(dir / "bomb.png", 60000, 60000);
    testsupport::makeFifo(dir / "pipe.jpg");
    testsupport::linkToZeros(dir / "zero.jpg");
    testsupport::cutFile(testsupport::magickPicture(dir / "cut.jpg", 800, 600), 0.4);
    const std::map<std::string, std::string> expected{
        {"empty.jpg", "Could not decode architectural image at empty.jpg: the file is empty"},
        {"notes.jpg", "Could not decode architectural image at notes.jpg: not an image"},
        {"folder.jpg", "Could not decode architectural image at folder.jpg: not a regular file"},
        {"dangling.jpg", "Could not decode architectural image at dangling.jpg: No such file or directory"},
        {"bomb.png", "Could not decode architectural image at bomb.png: 60000 \u00d7 60000 is over the 300-megapixel limit"},
        {"pipe.jpg", "Could not decode architectural image at pipe.jpg: not a regular file"},
        {"zero.jpg", "Could not decode architectural image at zero.jpg: not a regular file"},
        {"cut.jpg", "cut.jpg is damaged: Premature end of JPEG file"},
    };
    std::vector<fs::path> files;
    for (const auto& [name, text] : expected) files.push_back(dir / name);

    const long before = testsupport::peakResidentKiB();
    const auto run = halvanetest::runQueue(std::make_shared<HalvanePreset>(), files, dir / "out", "{name}_{size}", 4);
    if (!testsupport::kUnderSanitizer) {
        EXPECT_LT(testsupport::peakResidentKiB() - before, 256 * 1024);
    }
    for (const auto& [name, text] : expected) {
        EXPECT_EQ(run.statuses.at(name), batch::ProcessingStatus::failed) << name;
        EXPECT_EQ(run.messages.at(name), text);
    }
    std::error_code ec;
    for (const auto& entry : fs::recursive_directory_iterator(dir / "out", ec))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
}

// ---- the same files whatever runs beside ------------------------------

// Photos whose XMP names the media-management namespace xapMM or xmpMM and
// a namespace of their own qa or qb, watermarked by a picture whose XMP
// names both otherwise (read between each photo's reading and its writing):
// eight workers write byte for byte what one does, and every print keeps its
// own photo's prefixes.
TEST(HalvaneDeterminism, EightWorkersWriteWhatOneWrites) {
    constexpr int kPhotos = 6;
    testsupport::TempDir dir;
    const auto packet = [](const std::string& mm, const std::string& own, int i) {
        return fmt::format("<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
                           "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                           "<rdf:Description rdf:about='' xmlns:{0}='http://ns.adobe.com/xap/1.0/mm/' "
                           "xmlns:{1}='http://quorvel.test/ns/listing/'>"
                           "<{0}:DocumentID>uuid:{2}</{0}:DocumentID><{1}:Listing>L{2}</{1}:Listing>"
                           "</rdf:Description></rdf:RDF></x:xmpmeta>",
                           mm, own, i);
    };
    const fs::path logo = dir / "logo.jpg";
    halvanetest::writeJpeg(logo, halvanetest::photoPixels(160, 80, 9));
    std::vector<std::pair<fs::path, std::string>> packets{{logo, packet("wmMM", "qw", 0)}};
    std::vector<fs::path> photos;
    for (int i = 0; i < kPhotos; ++i) {
        photos.push_back(dir / fmt::format("room{}.jpg", i));
        halvanetest::writeJpeg(photos.back(), halvanetest::photoPixels(320, 240, static_cast<unsigned>(i + 1)));
        packets.emplace_back(photos.back(), packet(i % 2 ? "xmpMM" : "xapMM", i % 4 < 2 ? "qa" : "qb", i + 1));
    }
    testsupport::putXmpPackets(packets);

    auto preset = std::make_shared<HalvanePreset>();
    preset->watermarkURL = logo;
    const auto one = halvanetest::runQueue(preset, photos, dir / "one", "{name}_{size}", 1);
    const auto eight = halvanetest::runQueue(preset, photos, dir / "eight", "{name}_{size}", 8);
    ASSERT_EQ(one.report.successCount, kPhotos) << fmt::format("{}", fmt::join(one.report.errors, "\n"));
    ASSERT_EQ(eight.report.successCount, kPhotos) << fmt::format("{}", fmt::join(eight.report.errors, "\n"));
    for (int i = 0; i < kPhotos; ++i) {
        const std::string name = fmt::format("room{}", i);
        for (const fs::path file : {"Print_Package/" + name + "_Print.jpg", "MLS_Web_Package/" + name + "_Web.jpg"})
            EXPECT_TRUE(core::readFile(dir / "one" / file) == core::readFile(dir / "eight" / file)) << file;
        const std::string print = testsupport::xmpPacketOf(dir / "one" / "Print_Package" / (name + "_Print.jpg"));
        EXPECT_NE(print.find(fmt::format("{}:DocumentID", i % 2 ? "xmpMM" : "xapMM")), std::string::npos) << print;
        EXPECT_NE(print.find(fmt::format("{}:Listing", i % 4 < 2 ? "qa" : "qb")), std::string::npos) << print;
    }
}

} // namespace
