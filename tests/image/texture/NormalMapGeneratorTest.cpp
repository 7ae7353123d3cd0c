#include <gtest/gtest.h>

#include <fmt/format.h>

#include <cmath>
#include <numbers>

#include <opencv2/imgcodecs.hpp>

#include "TextureTestFiles.h"
#include "image/texture/NormalMapGenerator.h"
#include "support/TestSupport.h"

namespace {

using image::NormalConvention;
using image::NormalMapGenerator;
using image::PackedTexture;
using image::PackingError;
using texturetest::channelOf;
namespace fs = std::filesystem;

const std::uint8_t* pixel(const PackedTexture& t, int x, int y) {
    return t.rgba.data() + (static_cast<std::size_t>(y) * static_cast<std::size_t>(t.width) + static_cast<std::size_t>(x)) * 4;
}

struct FlatCase {
    double strength;
    NormalConvention convention;
    bool wrap;
};

void PrintTo(const FlatCase& c, std::ostream* os) {
    *os << fmt::format("strength {} {} wrap {}", c.strength, image::rawValue(c.convention), c.wrap);
}

class FlatHeight : public ::testing::TestWithParam<FlatCase> {};

TEST_P(FlatHeight, GivesTheNeutralNormalEverywhere) {
    testsupport::TempDir dir;
    const auto file = dir / "Flat_Height.png";
    texturetest::writePng(file, texturetest::grayImage(9, 7, [](int, int) { return std::uint8_t{128}; }));
    const auto t = NormalMapGenerator::fromHeight(file, GetParam().strength, GetParam().convention, 0, GetParam().wrap);
    ASSERT_EQ(t.width, 9);
    ASSERT_EQ(t.height, 7);
    for (int c = 0; c < 4; ++c)
        EXPECT_EQ(channelOf(t.rgba, c), std::vector<std::uint8_t>(63, c == 2 || c == 3 ? 255 : 128)) << c;
}

INSTANTIATE_TEST_SUITE_P(Strengths, FlatHeight,
                         ::testing::Values(FlatCase{0.0, NormalConvention::openGL, true},
                                           FlatCase{1.0, NormalConvention::directX, true},
                                           FlatCase{8.0, NormalConvention::openGL, false},
                                           FlatCase{50.0, NormalConvention::directX, false}));

class HeightMaps : public ::testing::Test {
protected:
    testsupport::TempDir dir;
};

TEST_F(HeightMaps, RampTowardsTheBottomTiltsGreenByConvention) {
    const auto file = dir / "Ramp_Height.png";
    texturetest::writePng(file, texturetest::grayImage(8, 16, [](int, int y) { return std::uint8_t(y * 12); }));
    const auto gl = NormalMapGenerator::fromHeight(file, 2.0, NormalConvention::openGL, 0, false);
    const auto dx = NormalMapGenerator::fromHeight(file, 2.0, NormalConvention::directX, 0, false);
    for (int y = 1; y < 15; ++y) {
        const int g = pixel(gl, 3, y)[1];
        const int d = pixel(dx, 3, y)[1];
        EXPECT_GT(g, 128);
        EXPECT_LT(d, 128);
        EXPECT_NEAR(g + d, 255, 1);
        EXPECT_EQ(pixel(gl, 3, y)[0], pixel(dx, 3, y)[0]);
        EXPECT_EQ(pixel(gl, 3, y)[0], 128);
    }
}

TEST_F(HeightMaps, ClampedEdgesUseTheirOwnValues) {
    const auto file = dir / "Slope_Height.png";
    texturetest::writePng(file, texturetest::grayImage(6, 3, [](int x, int) { return std::uint8_t(x * 10); }));
    const auto t = NormalMapGenerator::fromHeight(file, 1.0, NormalConvention::openGL, 0, false);
    auto expectedR = [](int gx) {
        const double nx = -gx / 255.0;
        return static_cast<int>((nx / std::sqrt(nx * nx + 1) * 0.5 + 0.5) * 255 + 0.5);
    };
    EXPECT_EQ(pixel(t, 0, 1)[0], expectedR(4 * 10)); // left neighbour is the pixel itself
    EXPECT_EQ(pixel(t, 2, 1)[0], expectedR(4 * 20));
    EXPECT_EQ(pixel(t, 5, 1)[0], expectedR(4 * 10));
    const auto wrapped = NormalMapGenerator::fromHeight(file, 1.0, NormalConvention::openGL, 0, true);
    EXPECT_EQ(pixel(wrapped, 0, 1)[0], expectedR(10 - 50 + 2 * (10 - 50) + 10 - 50)); // left wraps to 50
}

TEST_F(HeightMaps, TilingHeightMapGivesSeamlessNormalsWithWrap) {
    // A period of 16 px, repeated twice each way: with wrap the first column
    // and row see the same neighbourhood as the 17th.
    auto h = [](int x, int y) {
        return std::uint8_t(std::lround(128 + 60 * std::sin(x * std::numbers::pi / 8) + 40 * std::cos(y * std::numbers::pi / 8)));
    };
    const auto file = dir / "Tile_Height.png";
    texturetest::writePng(file, texturetest::grayImage(32, 32, h));
    const auto wrapped = NormalMapGenerator::fromHeight(file, 3.0, NormalConvention::openGL, 0, true);
    const auto clamped = NormalMapGenerator::fromHeight(file, 3.0, NormalConvention::openGL, 0, false);
    bool clampedDiffers = false;
    for (int i = 0; i < 32; ++i) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(pixel(wrapped, 0, i)[c], pixel(wrapped, 16, i)[c]);
            EXPECT_EQ(pixel(wrapped, i, 0)[c], pixel(wrapped, i, 16)[c]);
            clampedDiffers = clampedDiffers || pixel(clamped, 0, i)[c] != pixel(clamped, 16, i)[c];
        }
    }
    EXPECT_TRUE(clampedDiffers);
}

TEST_F(HeightMaps, StrengthZeroIsFlat) {
    const auto file = dir / "Noise_Bump.png";
    texturetest::writePng(file, texturetest::grayImage(10, 10, [](int x, int y) { return std::uint8_t((x * 37 + y * 91) % 256); }));
    const auto t = NormalMapGenerator::fromHeight(file, 0.0, NormalConvention::directX, 0, true);
    EXPECT_EQ(channelOf(t.rgba, 0), std::vector<std::uint8_t>(100, 128));
    EXPECT_EQ(channelOf(t.rgba, 1), std::vector<std::uint8_t>(100, 128));
    EXPECT_EQ(channelOf(t.rgba, 2), std::vector<std::uint8_t>(100, 255));
}

TEST_F(HeightMaps, MaxSizeShrinksNeverEnlarges) {
    const auto file = dir / "Big_Height.png";
    cv::imwrite(file.string(), cv::Mat(2048, 4096, CV_8UC1, cv::Scalar(90)), {cv::IMWRITE_PNG_COMPRESSION, 1});
    const auto small = NormalMapGenerator::fromHeight(file, 1.0, NormalConvention::openGL, 1024, true);
    EXPECT_EQ(small.width, 1024);
    EXPECT_EQ(small.height, 512);
    for (int maxSize : {0, 4096, 9000}) {
        const auto same = NormalMapGenerator::fromHeight(file, 1.0, NormalConvention::openGL, maxSize, true);
        EXPECT_EQ(same.width, 4096) << maxSize;
        EXPECT_EQ(same.height, 2048) << maxSize;
    }
}

TEST_F(HeightMaps, UnreadableMapThrowsCannotRead) {
    const auto file = dir / "Broken_Height.png";
    texturetest::writeText(file);
    try {
        (void)NormalMapGenerator::fromHeight(file, 1.0, NormalConvention::openGL, 0, true);
        FAIL();
    } catch (const PackingError& e) {
        EXPECT_EQ(e.kind(), PackingError::Kind::cannotRead);
        EXPECT_EQ(e.url(), file);
        EXPECT_STREQ(e.what(), "Could not read texture map Broken_Height.png: not an image.");
    }
}

struct StemCase {
    const char* file;
    const char* stem;
    bool isHeight;
};

void PrintTo(const StemCase& c, std::ostream* os) { *os << c.file; }

class HeightStem : public ::testing::TestWithParam<StemCase> {};

TEST_P(HeightStem, TakesOffTheHeightEnding) {
    const auto s = NormalMapGenerator::stem(fs::path("/x") / GetParam().file);
    EXPECT_EQ(s.stem, GetParam().stem);
    EXPECT_EQ(s.isNamedHeight, GetParam().isHeight);
}

INSTANTIATE_TEST_SUITE_P(Names, HeightStem,
                         ::testing::Values(StemCase{"Rock_HEIGHT.png", "Rock", true},
                                           StemCase{"Rock_Disp.tif", "Rock", true},
                                           StemCase{"Rock_Displacement.exr", "Rock", true},
                                           StemCase{"rock_bump.jpg", "rock", true},
                                           StemCase{"_Height.png", "_Height", false},
                                           StemCase{"Rock.png", "Rock", false}));

TEST(NormalMapPresence, FindsANormalMapOfTheStemInTheFolder) {
    testsupport::TempDir dir;
    texturetest::writeText(dir / "rock_normal_gl.png");
    texturetest::writeText(dir / "Wood_Normal.txt");
    texturetest::writeText(dir / "Wood_Height.png");
    EXPECT_TRUE(NormalMapGenerator::hasNormalMap("Rock", dir.path()));
    EXPECT_FALSE(NormalMapGenerator::hasNormalMap("Wood", dir.path()));
    EXPECT_FALSE(NormalMapGenerator::hasNormalMap("Rock", dir / "missing"));
}

} // namespace
