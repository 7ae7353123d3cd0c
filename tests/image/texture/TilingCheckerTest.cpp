#include <gtest/gtest.h>

#include <fmt/format.h>

#include <opencv2/imgcodecs.hpp>

#include "TextureTestFiles.h"
#include "image/texture/PackedTexture.h"
#include "image/texture/TilingChecker.h"
#include "support/TestSupport.h"

namespace {

using image::PackingError;
using image::TilingChecker;
namespace fs = std::filesystem;

class Tiling : public ::testing::Test {
protected:
    fs::path gray(const char* name, int w, int h, const std::function<std::uint8_t(int, int)>& v) {
        const auto file = dir / name;
        texturetest::writePng(file, texturetest::grayImage(w, h, v));
        return file;
    }
    testsupport::TempDir dir;
};

TEST_F(Tiling, OneColourTilesSeamlessly) {
    const auto r = TilingChecker::check(gray("flat.png", 64, 48, [](int, int) { return std::uint8_t{90}; }));
    EXPECT_EQ(r.horizontalRatio, 0.0);
    EXPECT_EQ(r.verticalRatio, 0.0);
    EXPECT_TRUE(r.isSeamless());
    EXPECT_EQ(r.summary(), "tiles seamlessly");
    EXPECT_EQ(r.width, 64);
    EXPECT_EQ(r.height, 48);
}

TEST_F(Tiling, HorizontalGradientHasALeftRightSeam) {
    const auto r = TilingChecker::check(
        gray("ramp.png", 512, 32, [](int x, int) { return std::uint8_t(std::lround(x * 255.0 / 511.0)); }));
    EXPECT_NEAR(r.horizontalRatio, 255 / 0.7, 1e-9);
    EXPECT_EQ(r.verticalRatio, 0.0);
    EXPECT_TRUE(r.horizontalSeam());
    EXPECT_FALSE(r.verticalSeam());
    EXPECT_EQ(r.summary(), "Visible seam: left/right edges don't match (364x the usual pixel difference)");
}

TEST_F(Tiling, BothSeamsAreJoined) {
    const auto r = TilingChecker::check(gray("diag.png", 5, 5, [](int x, int y) { return std::uint8_t(10 * x + 10 * y); }));
    EXPECT_DOUBLE_EQ(r.horizontalRatio, 4.0);
    EXPECT_DOUBLE_EQ(r.verticalRatio, 4.0);
    EXPECT_EQ(r.summary(), "Visible seam: left/right edges don't match (4x the usual pixel difference); "
                           "top/bottom edges don't match (4x)");
}

TEST_F(Tiling, RatioOfExactlyThreePasses) {
    const auto r = TilingChecker::check(gray("three.png", 4, 2, [](int x, int) { return std::uint8_t(10 * x); }));
    EXPECT_EQ(r.horizontalRatio, 3.0);
    EXPECT_TRUE(r.isSeamless());
    EXPECT_EQ(r.summary(), "tiles seamlessly");
}

TEST(TilingSummary, VerticalOnlyUsesTheShortText) {
    const TilingChecker::Result r{1.2, 7.6, 10, 10};
    EXPECT_EQ(r.summary(), "Visible seam: top/bottom edges don't match (8x)");
    EXPECT_TRUE((TilingChecker::Result{3.0, 3.0, 1, 1}).isSeamless());
}

TEST_F(Tiling, OnePixelIsMeasuredAtTwoByTwo) {
    const auto r = TilingChecker::check(gray("dot.png", 1, 1, [](int, int) { return std::uint8_t{200}; }));
    EXPECT_EQ(r.width, 1);
    EXPECT_EQ(r.height, 1);
    EXPECT_EQ(r.horizontalRatio, 0.0);
    EXPECT_EQ(r.verticalRatio, 0.0);
}

TEST_F(Tiling, LargeTexturesAreMeasuredSmallButReportedWhole) {
    const auto file = dir / "huge.png";
    cv::Mat ramp(4096, 8192, CV_8UC1);
    for (int x = 0; x < 8192; ++x) ramp.col(x).setTo(cv::Scalar(x * 255 / 8191));
    cv::imwrite(file.string(), ramp, {cv::IMWRITE_PNG_COMPRESSION, 1});
    const auto r = TilingChecker::check(file);
    EXPECT_EQ(r.width, 8192);
    EXPECT_EQ(r.height, 4096);
    EXPECT_TRUE(r.horizontalSeam());
    EXPECT_FALSE(r.verticalSeam());
}

TEST_F(Tiling, UnreadableThrowsCannotRead) {
    const auto file = dir / "nope.png";
    texturetest::writeText(file);
    EXPECT_THROW((void)TilingChecker::check(file), PackingError);
    EXPECT_THROW((void)TilingChecker::tiledPreview(file, 1024), PackingError);
}

struct PreviewCase {
    int side;
    int expected;
};

void PrintTo(const PreviewCase& c, std::ostream* os) { *os << fmt::format("{} px", c.side); }

class TiledPreview : public ::testing::TestWithParam<PreviewCase> {};

TEST_P(TiledPreview, FourCopiesNeverEnlarged) {
    testsupport::TempDir dir;
    const auto file = dir / "tile.png";
    const int side = GetParam().side;
    cv::Mat bgr(side, side, CV_8UC3, cv::Scalar(10, 50, 200));
    bgr(cv::Rect(0, 0, side / 4, side / 4)).setTo(cv::Scalar(0, 0, 0));
    cv::imwrite(file.string(), bgr, {cv::IMWRITE_PNG_COMPRESSION, 1});
    const auto preview = TilingChecker::tiledPreview(file, 1024);
    ASSERT_EQ(preview.width(), GetParam().expected);
    ASSERT_EQ(preview.height(), GetParam().expected);
    const int tile = GetParam().expected / 2;
    for (const auto& at : {cv::Point(0, 0), cv::Point(tile, 0), cv::Point(0, tile), cv::Point(tile, tile)})
        EXPECT_EQ(preview.pixels.at<cv::Vec4b>(at + cv::Point(1, 1)), cv::Vec4b(0, 0, 0, 255));
    EXPECT_EQ(preview.pixels.at<cv::Vec4b>(tile - 1, tile - 1), cv::Vec4b(200, 50, 10, 255));
}

INSTANTIATE_TEST_SUITE_P(Sizes, TiledPreview, ::testing::Values(PreviewCase{4096, 2048}, PreviewCase{256, 512}));

TEST_F(Tiling, PreviewKeepsStraightAlphaWhenWritten) {
    const auto file = dir / "leaf.png";
    texturetest::writePng(file, texturetest::solidImage(8, 8, cv::Scalar(200, 50, 10, 100), 4));
    const auto preview = TilingChecker::tiledPreview(file, 1024);
    const auto out = dir / "leaf_Tiled2x2.png";
    image::PackedTexture::writePNG(preview, out);
    const cv::Mat back = cv::imread(out.string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(back.size(), cv::Size(16, 16));
    EXPECT_EQ(back.at<cv::Vec4b>(9, 9), cv::Vec4b(10, 50, 200, 100));
}

} // namespace
