// The real-estate preset end to end: real JPEGs with camera EXIF, GPS,
// artist and copyright, run through the batch queue into print and web sets,
// read back with exiftool and OpenCV.

#include <iostream>

#include <gtest/gtest.h>

#include "../HalvanePhotos.h"
#include "batch/BatchItem.h"
#include "presets/HalvanePreset.h"

namespace {

using namespace halvanetest;
using batch::ProcessingStatus;
using presets::HalvanePreset;
using presets::Portal;
using presets::WebAspect;

std::shared_ptr<HalvanePreset> presetWith(void (*setup)(HalvanePreset&)) {
    auto p = std::make_shared<HalvanePreset>();
    setup(*p);
    return p;
}

fs::path cameraPhoto(const fs::path& file, int width, int height, unsigned seed = 1, double noise = 0.04) {
    writeJpeg(file, photoPixels(width, height, seed, noise));
    tagAsCamera(file);
    return file;
}

TEST(HalvanePackage, BothSetsOffWriteNothing) {
    testsupport::TempDir dir;
    const fs::path photo = cameraPhoto(dir / "room.jpg", 800, 600);
    auto preset = presetWith([](HalvanePreset& p) {
        p.exportPrintPackage = false;
        p.exportWebPackage = false;
    });
    auto run = runQueue(preset, {photo}, dir / "out", preset->defaultNamingPattern());
    EXPECT_EQ(run.statuses.at("room.jpg"), ProcessingStatus::completed);
    EXPECT_TRUE(run.outputs.at("room.jpg").empty());
    EXPECT_FALSE(fs::exists(dir / "out" / "Print_Package"));
    EXPECT_FALSE(fs::exists(dir / "out" / "MLS_Web_Package"));

    // The queue drops progress texts; the preset's last one, seen directly.
    std::vector<std::pair<double, std::string>> progress;
    batch::ProcessingContext context;
    context.configuration.outputDirectory = dir / "out2";
    context.configuration.namingPattern = preset->defaultNamingPattern();
    context.itemIndex = 1;
    context.totalItems = 1;
    context.onProgressUpdate = [&](double f, std::optional<std::string> m) { progress.emplace_back(f, m.value_or("")); };
    EXPECT_TRUE(preset->process(batch::BatchItem(core::Uuid::random(), photo), context).empty());
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), (std::pair<double, std::string>{1.0, "Exported 0 package variations."}));
    EXPECT_EQ(progress[0], (std::pair<double, std::string>{0.15, "Analyzing architectural lines..."}));
    EXPECT_FALSE(fs::exists(dir / "out2"));
}

TEST(HalvanePackage, StrippingOnKeepsCameraDataInPrintAndOnlyCreditsOnWeb) {
    testsupport::TempDir dir;
    const fs::path a = cameraPhoto(dir / "a.jpg", 1600, 1200, 1);
    const fs::path b = cameraPhoto(dir / "b.jpg", 1200, 1600, 2);
    auto preset = std::make_shared<HalvanePreset>();
    auto run = runQueue(preset, {a, b}, dir / "out", preset->defaultNamingPattern());
    const fs::path print1 = dir / "out" / "Print_Package" / "1042_Maple_Lane_01_Print.jpg";
    const fs::path web1 = dir / "out" / "MLS_Web_Package" / "1042_Maple_Lane_01_Web.jpg";
    const fs::path print2 = dir / "out" / "Print_Package" / "1042_Maple_Lane_02_Print.jpg";
    const fs::path web2 = dir / "out" / "MLS_Web_Package" / "1042_Maple_Lane_02_Web.jpg";
    EXPECT_EQ(run.outputs.at("a.jpg"), (std::vector<fs::path>{print1, web1}));
    EXPECT_EQ(run.outputs.at("b.jpg"), (std::vector<fs::path>{print2, web2}));
    for (const auto& print : {print1, print2}) {
        EXPECT_EQ(exifValue(print, "Model"), "Canon EOS R5") << print;
        EXPECT_EQ(exifValue(print, "ExposureTime"), "0.008") << print;
        EXPECT_EQ(exifValue(print, "Artist"), "Jo Lens") << print;
        EXPECT_EQ(gpsTags(print).find("GPS"), std::string::npos) << gpsTags(print);
    }
    for (const auto& web : {web1, web2}) {
        EXPECT_EQ(exifValue(web, "Orientation"), "1") << web;
        EXPECT_EQ(exifValue(web, "Artist"), "Jo Lens") << web;
        EXPECT_EQ(exifValue(web, "Copyright"), "(c) Maple Realty") << web;
        EXPECT_EQ(exifValue(web, "Model"), "") << web;
        EXPECT_EQ(exifValue(web, "DateTimeOriginal"), "") << web;
        EXPECT_EQ(exifValue(web, "ExposureTime"), "") << web;
        EXPECT_EQ(gpsTags(web).find("GPS"), std::string::npos) << gpsTags(web);
    }
    EXPECT_EQ(jpegSize(print1), cv::Size(1600, 1200));
    EXPECT_EQ(jpegSize(web2), cv::Size(1200, 1600));
    // Straightening ran and said so.
    int straightenLines = 0;
    for (const auto& l : run.logs)
        if (l.rfind("a: ", 0) == 0 || l.rfind("b: ", 0) == 0) ++straightenLines;
    EXPECT_EQ(straightenLines, 2);
}

TEST(HalvanePackage, StrippingOffKeepsLocationInBothSets) {
    testsupport::TempDir dir;
    const fs::path a = cameraPhoto(dir / "a.jpg", 1600, 1200);
    auto preset = presetWith([](HalvanePreset& p) { p.stripGPSMetadata = false; });
    auto run = runQueue(preset, {a}, dir / "out", preset->defaultNamingPattern());
    ASSERT_EQ(run.outputs.at("a.jpg").size(), 2u);
    for (const auto& file : run.outputs.at("a.jpg")) {
        EXPECT_NE(gpsTags(file).find("GPSLatitude"), std::string::npos) << file;
        EXPECT_EQ(exifValue(file, "GPSLatitude").substr(0, 5), "47.60") << file;
        EXPECT_EQ(exifValue(file, "Model"), "Canon EOS R5") << file;
    }
}

TEST(HalvanePackage, PortalsChooseTheWebFolder) {
    testsupport::TempDir dir;
    const fs::path a = cameraPhoto(dir / "a.jpg", 800, 600);
    for (auto [portal, folder] : {std::pair{Portal::custom, "MLS_Web_Package"}, std::pair{Portal::zillow, "Zillow_Package"},
                                  std::pair{Portal::airbnb, "Airbnb_Package"}}) {
        auto preset = std::make_shared<HalvanePreset>();
        preset->setPortal(portal);
        preset->exportPrintPackage = false;
        const fs::path out = dir / ("out-" + std::string(presets::rawValue(portal)));
        auto run = runQueue(preset, {a}, out, "{name}_{size}");
        EXPECT_EQ(run.outputs.at("a.jpg"), (std::vector<fs::path>{out / folder / "a_Web.jpg"}));
    }
}

struct ShapeCase {
    int width;
    int height;
    WebAspect aspect;
    int expectedWidth;
    int expectedHeight;
};

void PrintTo(const ShapeCase& c, std::ostream* os) {
    *os << c.width << 'x' << c.height << ' ' << presets::rawValue(c.aspect);
}

class HalvaneWebShape : public ::testing::TestWithParam<ShapeCase> {};

TEST_P(HalvaneWebShape, CropsLandscapeAroundTheCentre) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    const fs::path photo = cameraPhoto(dir / "shape.jpg", c.width, c.height);
    auto preset = std::make_shared<HalvanePreset>();
    preset->setPortal(Portal::custom);
    preset->webAspect = c.aspect;
    preset->maxWebDimension = 8000; // no scaling: the crop is what shows
    preset->maxWebFileSizeKB = 100000;
    preset->autoStraightenVerticals = false;
    preset->exportPrintPackage = false;
    auto run = runQueue(preset, {photo}, dir / "out", "{name}");
    ASSERT_EQ(run.outputs.at("shape.jpg").size(), 1u);
    EXPECT_EQ(jpegSize(run.outputs.at("shape.jpg")[0]), cv::Size(c.expectedWidth, c.expectedHeight));
}

INSTANTIATE_TEST_SUITE_P(Shapes, HalvaneWebShape,
                         ::testing::Values(ShapeCase{2000, 3000, WebAspect::threeTwo, 2000, 3000},
                                           ShapeCase{4000, 3000, WebAspect::sixteenNine, 4000, 2250},
                                           ShapeCase{6000, 4000, WebAspect::fourThree, 5333, 4000},
                                           ShapeCase{3000, 2250, WebAspect::fourThree, 3000, 2250}));

class HalvaneWebCap : public ::testing::TestWithParam<std::int64_t> {};

TEST_P(HalvaneWebCap, NoisyTwentyFourMegapixelPhotoFitsUnderTheCap) {
    testsupport::TempDir dir;
    const fs::path photo = cameraPhoto(dir / "noisy.jpg", 6000, 4000, 9, 0.12);
    auto preset = std::make_shared<HalvanePreset>();
    preset->setPortal(Portal::custom);
    preset->maxWebFileSizeKB = GetParam();
    preset->exportPrintPackage = false;
    preset->autoStraightenVerticals = false;
    auto run = runQueue(preset, {photo}, dir / "out", "{name}");
    ASSERT_EQ(run.statuses.at("noisy.jpg"), ProcessingStatus::completed) << run.messages["noisy.jpg"];
    const fs::path web = run.outputs.at("noisy.jpg").at(0);
    EXPECT_LE(fs::file_size(web), static_cast<std::uintmax_t>(GetParam()) * 1024);
    EXPECT_EQ(exifValue(web, "Copyright"), "(c) Maple Realty");
    const auto size = jpegSize(web);
    EXPECT_LE(std::max(size.width, size.height), 2048);
    EXPECT_NEAR(size.width * 2, size.height * 3, 3); // 3:2 kept
    std::cout << "web " << size.width << 'x' << size.height << ' ' << fs::file_size(web) << " bytes\n";
}

INSTANTIATE_TEST_SUITE_P(Caps, HalvaneWebCap, ::testing::Values(2000, 500));

TEST(HalvanePackage, ACapNoEncodingMeetsFailsTheItem) {
    testsupport::TempDir dir;
    const fs::path photo = cameraPhoto(dir / "noisy.jpg", 3000, 2000, 4, 0.3);
    auto preset = std::make_shared<HalvanePreset>();
    preset->setPortal(Portal::custom);
    preset->maxWebFileSizeKB = 50;
    preset->autoStraightenVerticals = false;
    auto run = runQueue(preset, {photo}, dir / "out", "{name}_{size}");
    EXPECT_EQ(run.statuses.at("noisy.jpg"), ProcessingStatus::failed);
    EXPECT_EQ(run.messages.at("noisy.jpg"), "Could not get the web image under 50 KB");
    // The print file written before the web set failed stays.
    EXPECT_TRUE(fs::exists(dir / "out" / "Print_Package" / "noisy_Print.jpg"));
    EXPECT_FALSE(fs::exists(dir / "out" / "MLS_Web_Package" / "noisy_Web.jpg"));
}

// ---- brackets ----------------------------------------------------------

void writeBracket(const fs::path& folder) {
    fs::create_directories(folder);
    const char* times[] = {"1/400", "1/100", "1/25"};
    const double gains[] = {0.45, 1.0, 1.6};
    const cv::Mat base = photoPixels(640, 480, 5, 0.01);
    for (int i = 0; i < 3; ++i) {
        cv::Mat frame;
        base.convertTo(frame, -1, gains[i]);
        const fs::path file = folder / (std::string(1, static_cast<char>('A' + i)) + ".jpg");
        writeJpeg(file, frame);
        tagAsCamera(file, {std::string("-ExposureTime=") + times[i],
                           "-DateTimeOriginal=2024:05:06 10:00:0" + std::to_string(i)});
    }
}

std::shared_ptr<HalvanePreset> bracketPreset() {
    auto p = std::make_shared<HalvanePreset>();
    p->mergeBrackets = true;
    p->autoStraightenVerticals = false;
    p->stripGPSMetadata = false;
    return p;
}

TEST(HalvanePackage, TheFirstPhotoOfABracketMergesItWithTheMiddleExposuresMetadata) {
    testsupport::TempDir dir;
    writeBracket(dir / "shoot");
    auto run = runQueue(bracketPreset(), {dir / "shoot/A.jpg", dir / "shoot/B.jpg", dir / "shoot/C.jpg"},
                              dir / "out", "{name}_{size}");
    EXPECT_EQ(run.statuses.at("A.jpg"), ProcessingStatus::completed);
    EXPECT_EQ(run.statuses.at("B.jpg"), ProcessingStatus::skipped);
    EXPECT_EQ(run.statuses.at("C.jpg"), ProcessingStatus::skipped);
    EXPECT_EQ(run.messages.at("B.jpg"), "B is merged into A.jpg's bracket");
    EXPECT_EQ(run.messages.at("C.jpg"), "C is merged into A.jpg's bracket");
    EXPECT_TRUE(contains(run.logs, "A: merged 3 exposures (A.jpg, B.jpg, C.jpg)"));
    const auto& files = run.outputs.at("A.jpg");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(exifValue(files[0], "ExposureTime"), "0.01"); // B's
    EXPECT_EQ(jpegSize(files[0]), cv::Size(640, 480));
    // The fused picture, not A's dark frame.
    const cv::Mat fused = cv::imread(files[0].string());
    const cv::Mat dark = cv::imread((dir / "shoot/A.jpg").string());
    EXPECT_GT(cv::mean(fused)[1], cv::mean(dark)[1] + 20);
    EXPECT_EQ(run.outputs.count("B.jpg"), 0u);
}

TEST(HalvanePackage, WithoutTheFirstPhotoQueuedTheFirstQueuedOneLeads) {
    testsupport::TempDir dir;
    writeBracket(dir / "shoot");
    auto run = runQueue(bracketPreset(), {dir / "shoot/B.jpg", dir / "shoot/C.jpg"}, dir / "out", "{name}_{size}");
    EXPECT_EQ(run.statuses.at("B.jpg"), ProcessingStatus::completed);
    EXPECT_EQ(run.statuses.at("C.jpg"), ProcessingStatus::skipped);
    EXPECT_EQ(run.messages.at("C.jpg"), "C is merged into B.jpg's bracket");
    EXPECT_TRUE(contains(run.logs, "B: merged 3 exposures (A.jpg, B.jpg, C.jpg)"));
    EXPECT_EQ(run.outputs.at("B.jpg").size(), 2u);
}

// ---- the watermark, stamped on each output after its crop --------------

// The bounding box of the logo's pure magenta, isolated pixels ignored.
cv::Rect magentaBox(const fs::path& file) {
    const cv::Mat bgr = cv::imread(file.string());
    cv::Mat mask;
    cv::inRange(bgr, cv::Scalar(200, 0, 200), cv::Scalar(255, 60, 255), mask);
    cv::morphologyEx(mask, mask, cv::MORPH_OPEN, cv::getStructuringElement(cv::MORPH_RECT, {5, 5}));
    return cv::boundingRect(mask);
}

TEST(HalvanePackage, TheWatermarkIsWholeInThePrintAndEveryWebShape) {
    testsupport::TempDir dir;
    const fs::path photo = cameraPhoto(dir / "room.jpg", 2400, 1800);
    const fs::path logo = dir / "logo.png";
    cv::Mat logoPixels(200, 400, CV_8UC4, cv::Scalar(255, 0, 255, 255));
    ASSERT_TRUE(cv::imwrite(logo.string(), logoPixels));

    struct Expect {
        WebAspect aspect;
        cv::Size size;
    };
    for (const auto& e : {Expect{WebAspect::original, {2048, 1536}}, Expect{WebAspect::fourThree, {2048, 1536}},
                          Expect{WebAspect::threeTwo, {2048, 1365}}, Expect{WebAspect::sixteenNine, {2048, 1152}}}) {
        auto preset = std::make_shared<HalvanePreset>();
        preset->watermarkURL = logo;
        preset->watermarkOpacity = 1.0;
        preset->webAspect = e.aspect;
        preset->autoStraightenVerticals = false;
        const fs::path out = dir / ("out-" + std::string(presets::displayName(e.aspect)).replace(1, 1, "x"));
        auto run = runQueue(preset, {photo}, out, "{name}_{size}");
        const auto& files = run.outputs.at("room.jpg");
        ASSERT_EQ(files.size(), 2u) << run.messages["room.jpg"];
        std::vector<std::pair<fs::path, cv::Size>> checks{{files[0], {2400, 1800}}, {files[1], e.size}};
        for (const auto& [file, size] : checks) {
            ASSERT_EQ(jpegSize(file), size) << file;
            const cv::Rect box = magentaBox(file);
            const double W = size.width;
            const double H = size.height;
            SCOPED_TRACE(file.string());
            // Whole: 0.18 of the output's width, half as high.
            EXPECT_NEAR(box.width, 0.18 * W, 3);
            EXPECT_NEAR(box.height, 0.09 * W, 3);
            // At its margin from the bottom-right corner.
            EXPECT_NEAR(W - (box.x + box.width), 0.03 * W, 3);
            EXPECT_NEAR(H - (box.y + box.height), 0.03 * H, 3);
        }
    }
}

} // namespace
