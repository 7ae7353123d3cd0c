#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include <fmt/format.h>
#include <lcms2.h>
#include <opencv2/core.hpp>

#include "CoreImageFixtures.h"
#include "core/Files.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/picture/ImageCodecs.h"
#include "support/BrokenFiles.h"
#include "support/ProfiledColour.h"
#include "support/TestSupport.h"

namespace {

namespace fs = std::filesystem;
using image::CoreImagePipeline;

const CoreImagePipeline& pipeline() { return CoreImagePipeline::shared(); }

using testsupport::bytesOf;
using testsupport::colourSpaceOf;
using testsupport::kProfiles;
using testsupport::lcmsConversion;
using testsupport::profiledCmyk;

std::string writtenProfile(const fs::path& file) {
    const auto metadata = image::readMetadata(file);
    return metadata ? colourSpaceOf(metadata->icc) : "unreadable";
}

// Mean absolute difference over the colour channels of two RGBA pictures.
double meanDifference(const cv::Mat& a, const cv::Mat& b) {
    cv::Mat ca, cb;
    double sum = 0;
    for (int c = 0; c < 3; ++c) {
        cv::extractChannel(a, ca, c);
        cv::extractChannel(b, cb, c);
        sum += cv::norm(ca, cb, cv::NORM_L1);
    }
    return sum / (3.0 * a.total());
}

struct CmykCase {
    std::string file;                 // written by ImageMagick
    std::vector<std::string> options; // ImageMagick's, for the file
    double alpha;                     // the mean alpha it loads with, 0..1
};

void PrintTo(const CmykCase& c, std::ostream* out) { *out << c.file; }

class ProfiledCmyk : public ::testing::TestWithParam<CmykCase> {};

TEST_P(ProfiledCmyk, ComesOutAsLcmsConvertsItAndWritesNoCmykProfile) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    const fs::path cmyk = profiledCmyk(dir.path(), c.file, c.options);
    ASSERT_EQ(writtenProfile(cmyk), "CMYK");
    const image::Image loaded = pipeline().loadImageOrFail(cmyk);
    const cv::Mat reference = lcmsConversion(cmyk, dir.path());
    ASSERT_EQ(loaded.pixels.size(), reference.size());
    cv::Mat pixels = loaded.pixels;
    if (pixels.depth() == CV_16U) pixels.convertTo(pixels, CV_8U, 1.0 / 257.0);
    const double difference = meanDifference(pixels, reference);
    const cv::Scalar mean = cv::mean(pixels), expected = cv::mean(reference);
    const std::string figures = fmt::format("mean difference {:.2f}, mean RGB {:.0f}/{:.0f}/{:.0f}, lcms2's {:.0f}/{:.0f}/{:.0f}",
                                            difference, mean[0], mean[1], mean[2], expected[0], expected[1], expected[2]);
    RecordProperty("figures", figures);
    EXPECT_LE(difference, 3.0) << figures;
    EXPECT_NEAR(mean[3], c.alpha * 255.0, 1.0);
    // The profile that describes the inks stays behind: the written files
    // are sRGB, as the pixels are.
    EXPECT_TRUE(loaded.metadata.icc.empty());
    for (const char* name : {"out.jpg", "out.png", "out.tif"}) {
        pipeline().write(loaded, dir / name, 0.9);
        EXPECT_EQ(writtenProfile(dir / name), "none") << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProfiledCmyk,
    ::testing::Values(CmykCase{"cmyk.jpg", {}, 1.0}, CmykCase{"lzw.tif", {"-depth", "8", "-compress", "lzw"}, 1.0},
                      CmykCase{"deep.tif", {"-depth", "16", "-compress", "zip"}, 1.0},
                      CmykCase{"tiled.tif", {"-depth", "8", "-define", "tiff:tile-geometry=64x64"}, 1.0},
                      // A fifth sample, unassociated alpha: the picture's transparency.
                      CmykCase{"alpha.tif",
                               {"-alpha", "set", "-channel", "A", "-evaluate", "set", "50%", "+channel", "-depth", "8"},
                               0.5}),
    [](const ::testing::TestParamInfo<CmykCase>& info) {
        std::string id = info.param.file;
        for (char& c : id)
            if (c == '.') c = '_';
        return id;
    });

// CMYK samples with no profile are the product of their inks, whichever way
// they are stored: inverted under an Adobe marker, plain without one.
TEST(ColourConversion, CmykWithoutProfileIsTheProductOfItsInks) {
    testsupport::TempDir dir;
    cv::Mat inks(48, 64, CV_8UC4);
    for (int y = 0; y < inks.rows; ++y)
        for (int x = 0; x < inks.cols; ++x)
            inks.at<cv::Vec4b>(y, x) = {static_cast<std::uint8_t>(x * 4), static_cast<std::uint8_t>(y * 5),
                                        static_cast<std::uint8_t>(255 - x * 4), static_cast<std::uint8_t>(x + y)};
    cv::Mat expected(inks.size(), CV_8UC4);
    inks.forEach<cv::Vec4b>([&](const cv::Vec4b& ink, const int* at) {
        const int light = 255 - ink[3];
        cv::Vec4b rgba{0, 0, 0, 255};
        for (int c = 0; c < 3; ++c) rgba[c] = static_cast<std::uint8_t>(light - ((ink[c] * light) >> 8));
        expected.at<cv::Vec4b>(at[0], at[1]) = rgba;
    });
    cv::Mat inverted;
    cv::bitwise_not(inks, inverted);
    coretest::writeLibjpeg(dir / "adobe.jpg", inverted, coretest::JpegStorage::cmykWithAdobeMarker);
    coretest::writeLibjpeg(dir / "plain.jpg", inks, coretest::JpegStorage::cmykWithoutMarker);
    for (const char* name : {"adobe.jpg", "plain.jpg"}) {
        const image::Image loaded = pipeline().loadImageOrFail(dir / name);
        EXPECT_LE(meanDifference(loaded.pixels, expected), 2.0) << name;
    }
}

// Whatever the properties carry, a written file holds only a profile that
// describes its RGB pixels.
struct ProfileCase {
    std::string profile; // a Ghostscript profile
    std::string output;  // the file written
    std::string written; // the colour space of the profile in it
};

void PrintTo(const ProfileCase& c, std::ostream* out) { *out << c.profile << " in " << c.output; }

class WrittenProfile : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(WrittenProfile, DescribesThePixels) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    image::ImageMetadata properties;
    properties.icc = bytesOf(kProfiles / c.profile);
    const image::Image picture{coretest::markedPicture(32, 24), {}};
    const fs::path out = dir / c.output;
    pipeline().write(picture, out, 0.9, &properties);
    EXPECT_EQ(writtenProfile(out), c.written);
}

INSTANTIATE_TEST_SUITE_P(Table, WrittenProfile,
                         ::testing::Values(ProfileCase{"default_cmyk.icc", "cmyk.jpg", "none"},
                                           ProfileCase{"default_cmyk.icc", "cmyk.png", "none"},
                                           ProfileCase{"default_cmyk.icc", "cmyk.tif", "none"},
                                           ProfileCase{"default_cmyk.icc", "cmyk.heic", "none"},
                                           ProfileCase{"default_gray.icc", "gray.jpg", "none"},
                                           ProfileCase{"default_gray.icc", "gray.png", "none"},
                                           ProfileCase{"a98.icc", "wide.jpg", "RGB"},
                                           ProfileCase{"a98.icc", "wide.png", "RGB"},
                                           ProfileCase{"a98.icc", "wide.heic", "RGB"}),
                         [](const ::testing::TestParamInfo<ProfileCase>& info) {
                             std::string id = info.param.output;
                             for (char& c : id)
                                 if (c == '.') c = '_';
                             return id;
                         });

// A Grayscale picture's own profile is used to make it sRGB and goes no
// further.
TEST(ColourConversion, GrayProfileDoesNotReachAnRgbOutput) {
    testsupport::TempDir dir;
    const fs::path gray = testsupport::magickPicture(
        dir / "gray.jpg", 64, 48, {"-colorspace", "Gray", "-profile", (kProfiles / "default_gray.icc").string()});
    ASSERT_EQ(writtenProfile(gray), "GRAY");
    const image::Image loaded = pipeline().loadImageOrFail(gray);
    EXPECT_TRUE(loaded.metadata.icc.empty());
    pipeline().write(loaded, dir / "out.jpg", 0.9);
    EXPECT_EQ(writtenProfile(dir / "out.jpg"), "none");
}

// Items convert their photos at once: lcms2 must give each the colours it
// gives a photo converted alone.
TEST(ColourConversion, EightThreadsConvertWhatOneConverts) {
    constexpr int kThreads = 8, kRounds = 40;
    testsupport::TempDir dir;
    const fs::path photo = testsupport::magickPicture(dir / "photo.png", 64, 48);
    std::vector<fs::path> inputs;
    for (const char* target : {"default_cmyk.icc", "a98.icc"}) {
        inputs.push_back(dir / fmt::format("{}.jpg", inputs.size()));
        testsupport::runTool({"convert", photo.string(), "-profile", (kProfiles / "srgb.icc").string(), "-profile",
                              (kProfiles / target).string(), inputs.back().string()});
    }
    inputs.push_back(testsupport::magickPicture(
        dir / "gray.jpg", 64, 48, {"-colorspace", "Gray", "-profile", (kProfiles / "default_gray.icc").string()}));
    std::vector<cv::Mat> expected;
    for (const auto& input : inputs) expected.push_back(pipeline().loadImageOrFail(input).pixels);
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round) {
                const auto i = static_cast<std::size_t>((t + round) % static_cast<int>(inputs.size()));
                const auto loaded = pipeline().loadImage(inputs[i]);
                if (!loaded || cv::norm(loaded->pixels, expected[i], cv::NORM_INF) != 0)
                    ++mismatches[static_cast<std::size_t>(t)];
            }
        });
    }
    for (auto& w : workers) w.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(mismatches[static_cast<std::size_t>(t)], 0) << "thread " << t;
}

} // namespace
