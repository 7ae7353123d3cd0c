#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "image/photo/ArchitecturalStraightener.h"
#include "support/BrokenFiles.h"

namespace {

using image::ArchitecturalStraightener;
using Parameters = ArchitecturalStraightener::StraightenParameters;

constexpr double kDegree = std::numbers::pi / 180.0;

// A wall with dark upright bars, the kind of edges door frames and
// windows give. `bars` are the bars' left edges as fractions of the width
// at the bottom; with `converge` c the edges meet towards the top so that
// the top row is (1 - c) as wide as the bottom one; the whole scene is then
// turned by `rollDegrees` (counter-clockwise positive) about its centre.
struct Scene {
    int width = 1440;
    int height = 1080;
    std::vector<double> bars{0.15, 0.35, 0.6, 0.8};
    double barWidth = 0.05;
    double converge = 0;
    double rollDegrees = 0;
    int depth = CV_8U;
};

cv::Mat draw(const Scene& s) {
    // Drawn on a larger canvas so the turn leaves no empty corners.
    const int margin =
        static_cast<int>(std::ceil((s.width + s.height) * std::abs(std::sin(s.rollDegrees * kDegree)))) + 4;
    const int cw = s.width + 2 * margin;
    const int ch = s.height + 2 * margin;
    cv::Mat canvas(ch, cw, CV_8UC4, cv::Scalar(205, 200, 190, 255));
    const double mid = margin + s.width / 2.0;
    // x of an edge at bottom position e (crop pixels), at canvas row y.
    auto edgeAt = [&](double e, double y) {
        const double cropY = y - margin;
        const double factor = 1.0 - s.converge + s.converge * cropY / s.height;
        return mid + (e + margin - mid) * factor;
    };
    for (const double bar : s.bars) {
        const double left = bar * s.width;
        const double right = (bar + s.barWidth) * s.width;
        const std::vector<cv::Point> quad{
            {static_cast<int>(std::lround(edgeAt(left, 0))), 0},
            {static_cast<int>(std::lround(edgeAt(right, 0))), 0},
            {static_cast<int>(std::lround(edgeAt(right, ch - 1))), ch - 1},
            {static_cast<int>(std::lround(edgeAt(left, ch - 1))), ch - 1}};
        cv::fillConvexPoly(canvas, quad, cv::Scalar(40, 45, 50, 255), cv::LINE_AA);
    }
    if (s.rollDegrees != 0) {
        const cv::Mat turn = cv::getRotationMatrix2D(cv::Point2f(cw / 2.0f, ch / 2.0f), s.rollDegrees, 1.0);
        cv::warpAffine(canvas, canvas, turn, canvas.size(), cv::INTER_LINEAR, cv::BORDER_REPLICATE);
    }
    cv::Mat scene = canvas(cv::Rect(margin, margin, s.width, s.height)).clone();
    if (s.depth == CV_16U) scene.convertTo(scene, CV_16UC4, 257.0);
    if (s.depth == CV_32F) scene.convertTo(scene, CV_32FC4, 1.0 / 255.0);
    return scene;
}

image::Image picture(const Scene& s) { return image::Image{draw(s), {}}; }

double lowestAlpha(const cv::Mat& rgba) {
    cv::Mat alpha;
    cv::extractChannel(rgba, alpha, 3);
    double lowest = 0;
    cv::minMaxLoc(alpha, &lowest);
    return lowest;
}

ArchitecturalStraightener straightener;

TEST(ArchitecturalStraightener, IdentityHasNoEffectAndIgnoresHorizontal) {
    EXPECT_EQ(Parameters::identity, (Parameters{0, 0, 0, true, 0}));
    EXPECT_TRUE(Parameters::identity.isIdentity());
    EXPECT_TRUE((Parameters{0.00009, 5, -0.00009, false, 3}).isIdentity());
    EXPECT_FALSE((Parameters{0.0002, 0, 0, true, 0}).isIdentity());
    EXPECT_FALSE((Parameters{0, 0, -0.0002, true, 0}).isIdentity());
    EXPECT_NE((Parameters{0, 0, 0, true, 0}), (Parameters{0, 0, 0, false, 0}));
}

TEST(ArchitecturalStraightener, GrayCopyIsLinearLuminanceAtMost720) {
    cv::Mat rgba(1080, 1440, CV_8UC4, cv::Scalar(188, 188, 188, 255));   // sRGB 188 is linear 0.5
    const auto bitmap = ArchitecturalStraightener::grayscaleBitmap({rgba, {}}, 720);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->width, 720);
    EXPECT_EQ(bitmap->height, 540);
    ASSERT_EQ(bitmap->pixels.size(), 720u * 540u);
    EXPECT_NEAR(bitmap->pixels[540 * 360 / 2], 128, 1);
    // Half transparent counts over black.
    rgba.setTo(cv::Scalar(255, 255, 255, 128));
    const auto clear = ArchitecturalStraightener::grayscaleBitmap({rgba, {}}, 2000);
    ASSERT_TRUE(clear);
    EXPECT_EQ(clear->width, 1440);
    EXPECT_NEAR(clear->pixels[0], 128, 1);
}

struct TooSmallCase {
    int width;
    int height;
};
class StraightenerTooSmall : public ::testing::TestWithParam<TooSmallCase> {};

TEST_P(StraightenerTooSmall, GivesIdentityWithNoLines) {
    Scene s;
    s.width = GetParam().width;
    s.height = GetParam().height;
    s.bars = {0.2, 0.6};
    s.barWidth = 0.1;
    s.rollDegrees = 3;
    const auto image = picture(s);
    EXPECT_FALSE(ArchitecturalStraightener::grayscaleBitmap(image, 720));
    const Parameters result = straightener.analyze(image);
    EXPECT_EQ(result, Parameters::identity);
    EXPECT_EQ(result.linesDetected, 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, StraightenerTooSmall,
                         ::testing::Values(TooSmallCase{31, 400}, TooSmallCase{400, 31},
                                           TooSmallCase{8000, 300}),   // 720 x 27 at 720
                         [](const auto& info) {
                             return fmt::format("w{}h{}", info.param.width, info.param.height);
                         });

TEST(ArchitecturalStraightener, FindsOneUprightEdgeWhereItIs) {
    // Tall enough that the fan of directions through the same edge stays
    // below the vote threshold.
    ArchitecturalStraightener::GrayBitmap bitmap{200, 400, std::vector<std::uint8_t>(200 * 400, 20)};
    for (int y = 0; y < 400; ++y)
        for (int x = 120; x < 200; ++x) bitmap.pixels[static_cast<std::size_t>(y * 200 + x)] = 220;
    const auto lines = ArchitecturalStraightener::detectVerticalLines(bitmap);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NEAR(lines[0].x0, 119.5, 1.0);
    EXPECT_NEAR(lines[0].slope, 0.0, 0.005);
    EXPECT_GE(lines[0].votes, 396);
    // A flat picture has no edge points at all.
    bitmap.pixels.assign(bitmap.pixels.size(), 90);
    EXPECT_TRUE(ArchitecturalStraightener::detectVerticalLines(bitmap).empty());
}

class StraightenerRoll : public ::testing::TestWithParam<double> {};

TEST_P(StraightenerRoll, ThreeDegreesIsMeasuredAgainstTheTurnAndCorrected) {
    Scene s;
    s.rollDegrees = GetParam();
    const auto image = picture(s);
    const Parameters measured = straightener.analyze(image);
    EXPECT_GE(measured.linesDetected, 3);
    EXPECT_NEAR(measured.rotationAngleRadians, -std::copysign(3 * kDegree, GetParam()), 0.004);
    EXPECT_EQ(measured.verticalKeystoneCorrection, 0.0);
    EXPECT_TRUE(measured.autoCrop);
    EXPECT_EQ(measured.horizontalKeystoneCorrection, 0.0);

    const image::Image straight = straightener.straighten(image, measured);
    EXPECT_EQ(straight.width(), image.width());
    EXPECT_EQ(straight.height(), image.height());
    EXPECT_EQ(lowestAlpha(straight.pixels), 255.0);
    const Parameters again = straightener.analyze(straight);
    EXPECT_TRUE(again.isIdentity()) << again.rotationAngleRadians << " " << again.verticalKeystoneCorrection;
    EXPECT_GE(again.linesDetected, 3);
}

INSTANTIATE_TEST_SUITE_P(Signs, StraightenerRoll, ::testing::Values(3.0, -3.0),
                         [](const auto& info) { return info.param > 0 ? std::string("counterClockwise") : std::string("clockwise"); });

class StraightenerRollOutsideLimits : public ::testing::TestWithParam<double> {};

TEST_P(StraightenerRollOutsideLimits, GivesNoRotation) {
    Scene s;
    s.rollDegrees = GetParam();
    const Parameters measured = straightener.analyze(picture(s));
    EXPECT_GE(measured.linesDetected, 3);   // the lines were found, only the roll is refused
    EXPECT_EQ(measured.rotationAngleRadians, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Rolls, StraightenerRollOutsideLimits, ::testing::Values(8.0, -8.0, 0.1, 0.0),
                         [](const auto& info) {
                             const int tenths = static_cast<int>(std::lround(info.param * 10));
                             return fmt::format("{}{}tenthDegrees", tenths < 0 ? "minus" : "plus", std::abs(tenths));
                         });

TEST(ArchitecturalStraightener, VerticalsConvergingUpwardAreStraightened) {
    Scene s;
    s.converge = 0.2;   // keystone c / (2 - c) = 0.111
    const auto image = picture(s);
    const Parameters measured = straightener.analyze(image);
    EXPECT_GE(measured.linesDetected, 4);
    EXPECT_NEAR(measured.verticalKeystoneCorrection, 0.111, 0.02);
    EXPECT_EQ(measured.rotationAngleRadians, 0.0);

    const image::Image straight = straightener.straighten(image, measured);
    EXPECT_LT(straight.width(), image.width());
    EXPECT_EQ(straight.height(), image.height());
    EXPECT_EQ(lowestAlpha(straight.pixels), 255.0);
    const Parameters again = straightener.analyze(straight);
    EXPECT_LT(std::abs(again.verticalKeystoneCorrection), 0.008);
    EXPECT_GE(again.linesDetected, 4);
}

TEST(ArchitecturalStraightener, RollWithTooStrongKeystoneCorrectsOnlyTheRoll) {
    Scene s;
    s.bars = {0.2, 0.3, 0.6, 0.7};
    s.converge = 0.6;   // keystone 0.43
    s.rollDegrees = 3;
    const Parameters measured = straightener.analyze(picture(s));
    EXPECT_GE(measured.linesDetected, 3);
    EXPECT_NEAR(measured.rotationAngleRadians, -3 * kDegree, 0.006);
    EXPECT_EQ(measured.verticalKeystoneCorrection, 0.0);
}

TEST(ArchitecturalStraightener, OneLineGivesIdentityAndTwoOnlyTheRoll) {
    Scene one;
    one.bars = {0.5};
    one.barWidth = 0.6;   // one edge inside the picture; the other is past it
    one.rollDegrees = 3;
    const Parameters single = straightener.analyze(picture(one));
    EXPECT_EQ(single, Parameters::identity);

    Scene two;
    two.bars = {0.3};
    two.barWidth = 0.4;
    two.converge = 0.2;
    two.rollDegrees = 3;
    const Parameters pair = straightener.analyze(picture(two));
    EXPECT_EQ(pair.linesDetected, 2);
    EXPECT_NEAR(pair.rotationAngleRadians, -3 * kDegree, 0.006);
    EXPECT_EQ(pair.verticalKeystoneCorrection, 0.0);
}

struct CropCase {
    int width;
    double v;
};
class StraightenerKeystoneCrop : public ::testing::TestWithParam<CropCase> {};

TEST_P(StraightenerKeystoneCrop, AutoCropKeepsOnlyWholePixelsOfThePicture) {
    Scene s;
    s.width = GetParam().width;
    s.height = 700;
    const double v = GetParam().v;
    const auto image = picture(s);
    const image::Image cropped = straightener.straighten(image, Parameters{v, 0, 0, true, 0});
    const double keep = (1 - std::abs(v)) * (s.width / 2.0) / (1 + std::abs(v));
    const int widest = static_cast<int>(std::floor(2 * keep));
    EXPECT_GE(cropped.width(), widest - 1);
    EXPECT_LE(cropped.width(), widest);
    EXPECT_EQ(cropped.height(), image.height());
    EXPECT_EQ(lowestAlpha(cropped.pixels), 255.0);
    cv::Size whole;
    cv::Point offset;
    cropped.pixels.locateROI(whole, offset);
    EXPECT_EQ(offset, cv::Point(0, 0));
    EXPECT_EQ(whole, cropped.pixels.size());

    const image::Image wide = straightener.straighten(image, Parameters{v, 0, 0, false, 0});
    EXPECT_EQ(wide.width(), image.width());
    EXPECT_EQ(wide.height(), image.height());
    // The wedges beside the narrowed edge are clear, the kept edge is not.
    const int narrowRow = v > 0 ? image.height() - 1 : 0;
    const int fullRow = v > 0 ? 0 : image.height() - 1;
    EXPECT_EQ(wide.pixels.at<cv::Vec4b>(narrowRow, 0)[3], 0);
    EXPECT_EQ(wide.pixels.at<cv::Vec4b>(narrowRow, wide.width() - 1)[3], 0);
    // (the side edges run inward from the kept corners, so the corner
    // pixel itself is a little short of whole)
    EXPECT_GT(wide.pixels.at<cv::Vec4b>(fullRow, 0)[3], 200);
    EXPECT_EQ(wide.pixels.at<cv::Vec4b>(fullRow, 1)[3], 255);
    EXPECT_EQ(wide.pixels.at<cv::Vec4b>(image.height() / 2, wide.width() / 2)[3], 255);
}

INSTANTIATE_TEST_SUITE_P(Widths, StraightenerKeystoneCrop,
                         ::testing::Values(CropCase{1440, 0.1}, CropCase{1001, 0.1}, CropCase{1001, -0.1},
                                           CropCase{999, 0.137}, CropCase{1000, -0.2}),
                         [](const auto& info) {
                             const int permille = static_cast<int>(std::lround(info.param.v * 1000));
                             return fmt::format("w{}_{}{}permille", info.param.width, permille < 0 ? "minus" : "plus",
                                                std::abs(permille));
                         });

TEST(ArchitecturalStraightener, RollAndKeystoneTogetherLeaveNoClearPixel) {
    Scene s;
    const auto image = picture(s);
    const image::Image out = straightener.straighten(image, Parameters{0.07, 0, -0.04, true, 0});
    EXPECT_EQ(out.height(), image.height());
    EXPECT_LT(out.width(), image.width());
    EXPECT_EQ(lowestAlpha(out.pixels), 255.0);
}

TEST(ArchitecturalStraightener, NegligibleParametersReturnTheInputItself) {
    const auto image = picture(Scene{});
    for (const Parameters& p : {Parameters::identity, Parameters{0.00009, 0.3, -0.00009, false, 7}}) {
        const image::Image out = straightener.straighten(image, p);
        EXPECT_EQ(out.pixels.data, image.pixels.data);
        EXPECT_EQ(out.pixels.size(), image.pixels.size());
    }
}

class StraightenerDepth : public ::testing::TestWithParam<int> {};

TEST_P(StraightenerDepth, KeepsDepthAndMeasuresAlike) {
    Scene s;
    s.rollDegrees = 3;
    s.depth = GetParam();
    const auto image = picture(s);
    const auto result = straightener.autoStraighten(image);
    EXPECT_NEAR(result.parameters.rotationAngleRadians, -3 * kDegree, 0.004);
    EXPECT_EQ(result.image.pixels.type(), image.pixels.type());
    EXPECT_EQ(result.image.pixels.size(), image.pixels.size());
    cv::Mat alpha;
    cv::extractChannel(result.image.pixels, alpha, 3);
    double lowest = 0, highest = 0;
    cv::minMaxLoc(alpha, &lowest, &highest);
    EXPECT_EQ(lowest, highest);
}

INSTANTIATE_TEST_SUITE_P(Depths, StraightenerDepth, ::testing::Values(CV_8U, CV_16U, CV_32F));

TEST(ArchitecturalStraightener, TransparentPictureDoesNotBleedColour) {
    // Clear red around an opaque gray block: after a turn the block's
    // border must not turn reddish.
    cv::Mat rgba(400, 400, CV_8UC4, cv::Scalar(255, 0, 0, 0));
    rgba(cv::Rect(100, 100, 200, 200)).setTo(cv::Scalar(128, 128, 128, 255));
    const image::Image out = straightener.straighten({rgba, {}}, Parameters{0, 0, 0.05, true, 0});
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            const cv::Vec4b p = out.pixels.at<cv::Vec4b>(y, x);
            if (p[3] > 32) {
                ASSERT_NEAR(p[0], 128, 4) << x << "," << y;
                ASSERT_NEAR(p[1], 128, 4) << x << "," << y;
            }
        }
}

TEST(ArchitecturalStraightener, TwentyFourMegapixelPhoto) {
    Scene s;
    s.width = 6000;
    s.height = 4000;
    s.rollDegrees = -2;
    const auto image = picture(s);
    const auto result = straightener.autoStraighten(image);
    EXPECT_NEAR(result.parameters.rotationAngleRadians, 2 * kDegree, 0.004);
    EXPECT_EQ(result.image.width(), 6000);
    EXPECT_EQ(result.image.height(), 4000);
}

TEST(ArchitecturalStraightener, RollAndKeystoneOfACameraPhotoTakeOneFullSizeBuffer) {
    // 96 MB of pixels; a roll, a keystone and the crop may add the result
    // (a little narrower) but no full-size stage between them.
    const cv::Mat pixels(4000, 6000, CV_8UC4, cv::Scalar(120, 130, 140, 255));
    const long pictureKiB = static_cast<long>(pixels.total() * pixels.elemSize() / 1024);
    const long before = testsupport::peakResidentKiB();
    const image::Image out = straightener.straighten({pixels, {}}, Parameters{0.06, 0, 0.03, true, 0});
    const long added = testsupport::peakResidentKiB() - before;
    EXPECT_LT(out.width(), 6000);
    EXPECT_EQ(out.height(), 4000);
    if (!testsupport::kUnderSanitizer) {
        EXPECT_LT(added, pictureKiB * 3 / 2) << added / 1024 << " MiB";
    }
}

} // namespace
