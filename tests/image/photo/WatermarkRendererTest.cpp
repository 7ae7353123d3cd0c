#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>
#include <string>

#include <opencv2/imgproc.hpp>

#include "image/photo/WatermarkRenderer.h"

namespace {

using image::WatermarkRenderer;

std::string positionName(WatermarkRenderer::WatermarkPosition p) {
    switch (p) {
    case WatermarkRenderer::WatermarkPosition::bottomRight: return "bottomRight";
    case WatermarkRenderer::WatermarkPosition::bottomLeft: return "bottomLeft";
    case WatermarkRenderer::WatermarkPosition::topRight: return "topRight";
    case WatermarkRenderer::WatermarkPosition::topLeft: return "topLeft";
    case WatermarkRenderer::WatermarkPosition::center: return "center";
    }
    return "other";
}
using Position = WatermarkRenderer::WatermarkPosition;
using Options = WatermarkRenderer::WatermarkOptions;

const cv::Scalar kWall(100, 100, 100, 255);
const cv::Scalar kRed(255, 0, 0, 255);

image::Image photo(int width, int height, int type = CV_8UC4) {
    cv::Mat pixels(height, width, CV_8UC4, kWall);
    if (type == CV_16UC4) pixels.convertTo(pixels, CV_16UC4, 257.0);
    return {pixels, {}};
}

image::Image logo(int width, int height, cv::Scalar colour = kRed) {
    return {cv::Mat(height, width, CV_8UC4, colour), {}};
}

// Where the result differs from the photo.
cv::Rect changedArea(const image::Image& before, const image::Image& after) {
    cv::Mat difference;
    cv::absdiff(before.pixels, after.pixels, difference);
    cv::Mat gray;
    cv::transform(difference, gray, cv::Matx<float, 1, 4>(1, 1, 1, 1));
    cv::Mat changed;
    gray.convertTo(changed, CV_8U);
    return cv::boundingRect(changed > 0);
}

const WatermarkRenderer renderer;

struct PlacementCase {
    Position position;
    cv::Rect expected;   // rows from the top
};
class WatermarkPlacement : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(WatermarkPlacement, LogoIs18PercentWideAtItsCornerWithMargins) {
    const image::Image before = photo(4000, 3000);
    const image::Image after = renderer.applyWatermark(before, logo(1000, 500), Options{1.0, 0.18, 0.03, GetParam().position});
    EXPECT_EQ(after.pixels.size(), before.pixels.size());
    EXPECT_EQ(changedArea(before, after), GetParam().expected);
    const cv::Point inside = GetParam().expected.tl() + cv::Point(10, 10);
    EXPECT_EQ(after.pixels.at<cv::Vec4b>(inside), cv::Vec4b(255, 0, 0, 255));
}

INSTANTIATE_TEST_SUITE_P(
    Positions, WatermarkPlacement,
    ::testing::Values(PlacementCase{Position::bottomRight, {3160, 2550, 720, 360}},
                      PlacementCase{Position::bottomLeft, {120, 2550, 720, 360}},
                      PlacementCase{Position::topRight, {3160, 90, 720, 360}},
                      PlacementCase{Position::topLeft, {120, 90, 720, 360}},
                      PlacementCase{Position::center, {1640, 1320, 720, 360}}),
    [](const auto& info) { return positionName(info.param.position); });

TEST(WatermarkRenderer, CenterIgnoresTheMargin) {
    const image::Image before = photo(800, 600);
    const auto none = renderer.applyWatermark(before, logo(100, 50), Options{1.0, 0.25, 0.0, Position::center});
    const auto wide = renderer.applyWatermark(before, logo(100, 50), Options{1.0, 0.25, 0.2, Position::center});
    EXPECT_EQ(cv::norm(none.pixels, wide.pixels, cv::NORM_INF), 0.0);
    EXPECT_EQ(changedArea(before, none), cv::Rect(300, 250, 200, 100));
}

struct OpacityCase {
    double opacity;
    int logoAlpha;
    double expectedRed;   // red of a covered pixel over the gray 100 wall
};
class WatermarkOpacity : public ::testing::TestWithParam<OpacityCase> {};

TEST_P(WatermarkOpacity, ScalesTheLogosAlpha) {
    const image::Image before = photo(1000, 800);
    const auto after = renderer.applyWatermark(before, logo(200, 100, cv::Scalar(255, 0, 0, GetParam().logoAlpha)),
                                               Options{GetParam().opacity, 0.2, 0.05, Position::topLeft});
    const cv::Vec4b covered = after.pixels.at<cv::Vec4b>(60, 60);
    EXPECT_NEAR(covered[0], GetParam().expectedRed, 1.0);
    EXPECT_NEAR(covered[1], 100 - (GetParam().expectedRed - 100) * 100 / 155, 1.0);
    EXPECT_EQ(covered[3], 255);
    EXPECT_EQ(after.pixels.at<cv::Vec4b>(10, 10), cv::Vec4b(100, 100, 100, 255));
}

INSTANTIATE_TEST_SUITE_P(Opacities, WatermarkOpacity,
                         ::testing::Values(OpacityCase{1.0, 255, 255}, OpacityCase{0.9995, 255, 255},
                                           OpacityCase{1.0, 128, 100 + 155 * 128 / 255.0},
                                           OpacityCase{0.5, 255, 177.5}, OpacityCase{0.5, 128, 100 + 155 * 64 / 255.0},
                                           OpacityCase{0.0, 255, 100}),
                         [](const auto& info) {
                             return fmt::format("opacity{}_alpha{}", std::lround(info.param.opacity * 10000), info.param.logoAlpha);
                         });

TEST(WatermarkRenderer, ZeroOpacityLeavesThePhotoAsItWas) {
    const image::Image before = photo(640, 480);
    const auto after = renderer.applyWatermark(before, logo(64, 64), Options{0.0, 0.18, 0.03, Position::bottomRight});
    EXPECT_EQ(cv::norm(before.pixels, after.pixels, cv::NORM_INF), 0.0);
}

class WatermarkLogoSize : public ::testing::TestWithParam<cv::Size> {};

TEST_P(WatermarkLogoSize, AlwaysScaledToTheFractionOfTheWidth) {
    const image::Image before = photo(4000, 3000);
    const auto after = renderer.applyWatermark(before, logo(GetParam().width, GetParam().height),
                                               Options{1.0, 0.18, 0.03, Position::bottomRight});
    const cv::Rect area = changedArea(before, after);
    EXPECT_EQ(area.width, 720);
    EXPECT_EQ(area.height, 360);
}

INSTANTIATE_TEST_SUITE_P(Sizes, WatermarkLogoSize,
                         ::testing::Values(cv::Size(8000, 4000), cv::Size(100, 50), cv::Size(720, 360)),
                         [](const auto& info) {
                             return fmt::format("logo{}x{}", info.param.width, info.param.height);
                         });

struct ClipCase {
    double scale;
    double margin;
    Position position;
};
class WatermarkClipping : public ::testing::TestWithParam<ClipCase> {};

TEST_P(WatermarkClipping, LogoPastTheEdgeIsClipped) {
    const image::Image before = photo(400, 300);
    const auto after =
        renderer.applyWatermark(before, logo(90, 70), Options{1.0, GetParam().scale, GetParam().margin, GetParam().position});
    EXPECT_EQ(after.pixels.size(), before.pixels.size());
    const cv::Rect area = changedArea(before, after);
    EXPECT_FALSE(area.empty());
    EXPECT_TRUE((area & cv::Rect(0, 0, 400, 300)) == area);
}

INSTANTIATE_TEST_SUITE_P(Cases, WatermarkClipping,
                         ::testing::Values(ClipCase{1.8, 0.03, Position::center}, ClipCase{1.8, 0.03, Position::topLeft},
                                           ClipCase{0.5, -0.2, Position::bottomRight},
                                           ClipCase{0.5, -0.2, Position::topLeft},
                                           ClipCase{3.0, 0.5, Position::bottomLeft}),
                         [](const auto& info) {
                             return fmt::format("{}_scale{}_{}", positionName(info.param.position), std::lround(info.param.scale * 10),
                                               info.param.margin < 0 ? "negativeMargin" : "margin");
                         });

TEST(WatermarkRenderer, LogoEntirelyOutsideOrUnusableLeavesThePhoto) {
    const image::Image before = photo(400, 300);
    for (const Options& o : {Options{1.0, 0.2, 2.0, Position::topLeft}, Options{1.0, 0.0, 0.03, Position::topLeft},
                             Options{1.0, std::nan(""), 0.03, Position::topLeft}}) {
        const auto after = renderer.applyWatermark(before, logo(90, 70), o);
        EXPECT_EQ(cv::norm(before.pixels, after.pixels, cv::NORM_INF), 0.0);
    }
    const auto noLogo = renderer.applyWatermark(before, image::Image{}, Options{1.0, 0.2, 0.03, Position::topLeft});
    EXPECT_EQ(noLogo.pixels.data, before.pixels.data);
}

TEST(WatermarkRenderer, SixteenBitPhotoTakesAnEightBitLogo) {
    const image::Image before = photo(1000, 800, CV_16UC4);
    const auto after = renderer.applyWatermark(before, logo(100, 100), Options{0.5, 0.2, 0.0, Position::topLeft});
    ASSERT_EQ(after.pixels.type(), CV_16UC4);
    const cv::Vec4w covered = after.pixels.at<cv::Vec4w>(50, 50);
    EXPECT_NEAR(covered[0], (65535 + 25700) / 2.0, 2);
    EXPECT_NEAR(covered[1], 12850, 2);
    EXPECT_EQ(covered[3], 65535);
}

TEST(WatermarkRenderer, TransparentPhotoBecomesAsOpaqueAsTheLogo) {
    image::Image before{cv::Mat(200, 200, CV_8UC4, cv::Scalar(0, 0, 0, 0)), {}};
    const auto after = renderer.applyWatermark(before, logo(10, 10), Options{0.5, 0.5, 0.0, Position::topLeft});
    const cv::Vec4b covered = after.pixels.at<cv::Vec4b>(20, 20);
    EXPECT_EQ(covered[0], 255);   // straight alpha: the colour is the logo's
    EXPECT_NEAR(covered[3], 128, 1);
}

} // namespace
