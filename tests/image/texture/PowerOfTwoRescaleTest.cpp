#include <gtest/gtest.h>

#include <vector>

#include "image/texture/PowerOfTwoScaler.h"

using image::PowerOfTwoScaler;
using image::ScaleMode;

TEST(PowerOfTwoRescale, MipmapChainOfAnOddSizedTexture) {
    const cv::Mat texture(600, 1000, CV_8UC4, cv::Scalar(10, 20, 30, 255));
    const auto levels = PowerOfTwoScaler().generateMipmaps(texture, 16);
    std::vector<int> dimensions;
    for (const auto& l : levels) dimensions.push_back(l.dimension);
    EXPECT_EQ(dimensions, (std::vector<int>{1000, 500, 250, 125, 62, 31, 15}));
    ASSERT_EQ(levels.size(), 7u);
    EXPECT_EQ(levels[4].image.size(), cv::Size(62, 37));
    EXPECT_EQ(levels[5].image.size(), cv::Size(31, 18));
    EXPECT_EQ(levels[6].image.size(), cv::Size(15, 9));
    for (std::size_t i = 0; i < levels.size(); ++i) EXPECT_EQ(levels[i].level, static_cast<int>(i));
    // Whole-pixel box halving: no half-transparent last column or row.
    for (const auto& l : levels) {
        const cv::Vec4b corner = l.image.at<cv::Vec4b>(l.image.rows - 1, l.image.cols - 1);
        EXPECT_EQ(corner, cv::Vec4b(10, 20, 30, 255)) << l.level;
    }
}

TEST(PowerOfTwoRescale, BoxFilterAveragesTwoByTwoAndDropsTheOddColumn) {
    cv::Mat t(2, 3, CV_8UC1);
    t.at<std::uint8_t>(0, 0) = 0;
    t.at<std::uint8_t>(0, 1) = 100;
    t.at<std::uint8_t>(1, 0) = 50;
    t.at<std::uint8_t>(1, 1) = 51;
    t.at<std::uint8_t>(0, 2) = 255;
    t.at<std::uint8_t>(1, 2) = 255;
    const auto levels = PowerOfTwoScaler().generateMipmaps(t, 1);
    ASSERT_EQ(levels.size(), 2u); // dimensions 3, 1
    EXPECT_EQ(levels[1].image.size(), cv::Size(1, 1));
    EXPECT_EQ(levels[1].image.at<std::uint8_t>(0, 0), 50); // (0 + 100 + 50 + 51 + 2) / 4
}

TEST(PowerOfTwoRescale, SmallTextureIsLevelZeroAlone) {
    const cv::Mat t(8, 16, CV_8UC4, cv::Scalar::all(1));
    const auto levels = PowerOfTwoScaler().generateMipmaps(t, 16);
    ASSERT_EQ(levels.size(), 1u);
    EXPECT_EQ(levels[0].dimension, 16);
}

TEST(PowerOfTwoRescale, DataUnderZeroAlphaSurvivesScaling) {
    const cv::Mat t(100, 100, CV_8UC4, cv::Scalar(10, 200, 30, 0));
    const cv::Mat out = PowerOfTwoScaler().scale(t, 64, 40);
    ASSERT_EQ(out.size(), cv::Size(64, 40));
    EXPECT_EQ(out.at<cv::Vec4b>(20, 30), cv::Vec4b(10, 200, 30, 0));
    EXPECT_EQ(out.at<cv::Vec4b>(0, 0), cv::Vec4b(10, 200, 30, 0));
}

struct PotCase {
    cv::Size source;
    ScaleMode mode;
    bool forceSquare;
    cv::Size expected;
};

class ScaleToPOT : public ::testing::TestWithParam<PotCase> {};

TEST_P(ScaleToPOT, ExactTargetSize) {
    const auto& c = GetParam();
    const cv::Mat t(c.source, CV_16UC4, cv::Scalar::all(1234));
    const cv::Mat out = PowerOfTwoScaler().scaleToPOT(t, c.mode, c.forceSquare);
    EXPECT_EQ(out.size(), c.expected);
    EXPECT_EQ(out.type(), CV_16UC4);
    EXPECT_EQ(out.at<cv::Vec4w>(out.rows - 1, out.cols - 1), cv::Vec4w(1234, 1234, 1234, 1234));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ScaleToPOT,
    ::testing::Values(PotCase{{1000, 300}, ScaleMode::nearestPowerOfTwo(), true, {1024, 1024}},
                      PotCase{{1000, 300}, ScaleMode::nearestPowerOfTwo(), false, {1024, 256}},
                      PotCase{{640, 200}, ScaleMode::fixedTarget(300), false, {300, 300}},
                      PotCase{{200, 640}, ScaleMode::fixedTarget(300), true, {300, 300}},
                      PotCase{{1025, 1000}, ScaleMode::roundUpPowerOfTwo(), false, {2048, 1024}},
                      PotCase{{1000, 1024}, ScaleMode::roundDownPowerOfTwo(), false, {512, 1024}}));
