#include <gtest/gtest.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "TextureTestFiles.h"
#include "image/texture/ChannelPacker.h"
#include "support/TestSupport.h"

namespace {

using image::Channel;
using image::ChannelPacker;
using image::EngineProfile;
using image::PackedTexture;
using image::PackingError;
using texturetest::channelOf;
namespace fs = std::filesystem;

std::uint8_t roughAt(int x, int y) { return static_cast<std::uint8_t>((x * 16 + y * 3) & 255); }

class PackTest : public ::testing::Test {
protected:
    void SetUp() override {
        rough = dir / "Rock_Roughness.png";
        texturetest::writePng(rough, texturetest::grayImage(16, 8, roughAt));
        roughOnly.maps[Channel::roughness] = rough;
        expectedRough = channelOf(expand(texturetest::grayImage(16, 8, roughAt)), 0);
    }
    static std::vector<std::uint8_t> expand(const cv::Mat& gray) {
        std::vector<std::uint8_t> out;
        for (int y = 0; y < gray.rows; ++y)
            for (int x = 0; x < gray.cols; ++x)
                for (int c = 0; c < 4; ++c) out.push_back(gray.at<std::uint8_t>(y, x));
        return out;
    }
    static std::vector<std::uint8_t> filled(std::uint8_t v, std::size_t n = 16 * 8) { return std::vector<std::uint8_t>(n, v); }

    testsupport::TempDir dir;
    ChannelPacker packer;
    fs::path rough;
    ChannelPacker::ChannelSources roughOnly;
    std::vector<std::uint8_t> expectedRough;
};

TEST_F(PackTest, RoughnessOnlyForUnreal) {
    const auto t = packer.pack(roughOnly, EngineProfile::unrealORM, 16, 8);
    ASSERT_EQ(t.rgba.size(), 16u * 8u * 4u);
    EXPECT_EQ(channelOf(t.rgba, 0), filled(255));
    EXPECT_EQ(channelOf(t.rgba, 1), expectedRough);
    EXPECT_EQ(channelOf(t.rgba, 2), filled(0));
    EXPECT_EQ(channelOf(t.rgba, 3), filled(255));
}

TEST_F(PackTest, RoughnessOnlyForHdrpDerivesSmoothness) {
    const auto t = packer.pack(roughOnly, EngineProfile::unityHDRPMaskMap, 16, 8);
    std::vector<std::uint8_t> smooth;
    for (auto v : expectedRough) smooth.push_back(static_cast<std::uint8_t>(255 - v));
    EXPECT_EQ(channelOf(t.rgba, 0), filled(0));
    EXPECT_EQ(channelOf(t.rgba, 1), filled(255));
    EXPECT_EQ(channelOf(t.rgba, 2), filled(255));
    EXPECT_EQ(channelOf(t.rgba, 3), smooth);
}

TEST_F(PackTest, UrpWithoutRoughnessOrSmoothnessHasHalfSmoothness) {
    const auto ao = dir / "Rock_AO.png";
    texturetest::writePng(ao, texturetest::grayImage(16, 8, [](int, int) { return std::uint8_t{9}; }));
    ChannelPacker::ChannelSources sources;
    sources.maps[Channel::ambientOcclusion] = ao;
    const auto t = packer.pack(sources, EngineProfile::unityMetallicSmoothness, 16, 8);
    EXPECT_EQ(channelOf(t.rgba, 0), filled(0));
    EXPECT_EQ(channelOf(t.rgba, 3), filled(128));
}

TEST_F(PackTest, ColourMapBecomesLumaAtTheOutputSize) {
    const auto red = dir / "Red_Roughness.png";
    texturetest::writePng(red, texturetest::solidImage(8, 8, cv::Scalar(255, 0, 0), 3));
    ChannelPacker::ChannelSources sources;
    sources.maps[Channel::roughness] = red;
    for (int side : {8, 4, 13}) {
        const auto t = packer.pack(sources, EngineProfile::gltfORM, side, side);
        EXPECT_EQ(t.width, side);
        EXPECT_EQ(channelOf(t.rgba, 1), filled(54, static_cast<std::size_t>(side * side))) << side;
    }
}

TEST_F(PackTest, EmbeddedProfileIsNotApplied) {
    const auto tagged = dir / "Lin_Roughness.png";
    cv::Mat gray = texturetest::grayImage(16, 8, roughAt);
    cv::Mat rgb;
    cv::cvtColor(gray, rgb, cv::COLOR_GRAY2RGB);
    texturetest::writePng(tagged, rgb, texturetest::linearRgbProfile());
    ChannelPacker::ChannelSources sources;
    sources.maps[Channel::roughness] = tagged;
    EXPECT_EQ(channelOf(packer.pack(sources, EngineProfile::unrealORM, 16, 8).rgba, 1), expectedRough);
}

TEST_F(PackTest, ZeroSizeGivesAnEmptyTexture) {
    const auto t = packer.pack(roughOnly, EngineProfile::unrealORM, 0, 5);
    EXPECT_EQ(t.width, 0);
    EXPECT_TRUE(t.rgba.empty());
}

TEST_F(PackTest, FailuresCarryTheirTexts) {
    try {
        (void)packer.pack({}, EngineProfile::unrealORM, 4, 4);
        FAIL();
    } catch (const PackingError& e) {
        EXPECT_EQ(e.kind(), PackingError::Kind::noSourceImagesFound);
        EXPECT_STREQ(e.what(), "No valid source texture maps found for channel packing.");
    }
    const auto bad = dir / "Rock_Gloss.png";
    texturetest::writeText(bad);
    ChannelPacker::ChannelSources sources;
    sources.maps[Channel::smoothness] = bad;
    try {
        // Unreal reads no smoothness slot, but roughness falls back to it.
        (void)packer.pack(sources, EngineProfile::unrealORM, 4, 4);
        FAIL();
    } catch (const PackingError& e) {
        EXPECT_EQ(e.kind(), PackingError::Kind::cannotRead);
        EXPECT_EQ(e.url(), bad);
        EXPECT_STREQ(e.what(), "Could not read texture map Rock_Gloss.png: not an image.");
    }
    EXPECT_STREQ(PackingError::compositionFailed().what(), "Failed to composite RGBA channels.");
}

TEST_F(PackTest, SourceSizeIsThePrimaryMapsHeaderSize) {
    const auto ao = dir / "Rock_AO.png";
    texturetest::writePng(ao, texturetest::grayImage(32, 20, [](int, int) { return std::uint8_t{1}; }));
    ChannelPacker::ChannelSources sources = roughOnly;
    sources.maps[Channel::ambientOcclusion] = ao;
    EXPECT_EQ(packer.sourceSize(sources), (image::PixelSize{32, 20}));
    EXPECT_EQ(packer.sourceSize(roughOnly), (image::PixelSize{16, 8}));
    EXPECT_THROW((void)packer.sourceSize({}), PackingError);
}

struct LoadCase {
    const char* name;
    std::uint8_t expected;
};

void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }

class TextureFormats : public ::testing::TestWithParam<LoadCase> {};

TEST_P(TextureFormats, LoadAsStoredAtEightBits) {
    testsupport::TempDir dir;
    const std::string name = GetParam().name;
    const auto base = dir / "base.png";
    texturetest::writePng(base, texturetest::grayImage(6, 4, [](int, int) { return std::uint8_t{77}; }));
    fs::path file = dir / name;
    if (name == "map.tga") {
        texturetest::convertWithImageMagick(base, file);
    } else if (name == "map.psd") {
        // ImageMagick writes a gray picture as a Grayscale-mode document; an
        // RGB document is what painting tools save for colour maps.
        const auto colour = dir / "colour.png";
        texturetest::writePng(colour, texturetest::solidImage(6, 4, cv::Scalar(200, 60, 20), 3));
        texturetest::convertWithImageMagick(colour, file);
    } else if (name == "map16.png") {
        texturetest::writePng(file, cv::Mat(4, 6, CV_16UC1, cv::Scalar(1000)));
    } else if (name == "map.exr") {
        texturetest::writeExr(file, 6, 4, 0.5f);
    } else if (name == "bright.exr") {
        texturetest::writeExr(file, 6, 4, 3.0f);
    } else if (name == "negative.exr") {
        texturetest::writeExr(file, 6, 4, -1.0f);
    }
    EXPECT_EQ(ChannelPacker::pixelSize(file), (image::PixelSize{6, 4})) << name;
    const auto plane = ChannelPacker::loadGrayscale(file, 6, 4);
    ASSERT_TRUE(plane.has_value()) << name;
    EXPECT_EQ(*plane, std::vector<std::uint8_t>(24, GetParam().expected)) << name;
}

INSTANTIATE_TEST_SUITE_P(Inputs, TextureFormats,
                         ::testing::Values(LoadCase{"map.tga", 77}, LoadCase{"map.psd", 87} /* luma of 200, 60, 20 */,
                                           LoadCase{"map16.png", 4}, // 1000 / 257 = 3.9
                                           LoadCase{"map.exr", 128}, LoadCase{"bright.exr", 255},
                                           LoadCase{"negative.exr", 0}),
                         [](const auto& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (c == '.') c = '_';
                             return n;
                         });

TEST(PackedTextureHalved, BoxFilterRules) {
    const PackedTexture one{1, 1, {1, 2, 3, 4}};
    EXPECT_EQ(one.halved(), one);

    PackedTexture three{3, 3, std::vector<std::uint8_t>(36, 200)};
    // top-left 2 x 2 block: R 0, 10, 20, 30 -> (60 + 2) / 4 = 15
    three.rgba[0] = 0;
    three.rgba[4] = 10;
    three.rgba[12] = 20;
    three.rgba[16] = 30;
    const auto h3 = three.halved();
    EXPECT_EQ(h3.width, 1);
    EXPECT_EQ(h3.height, 1);
    EXPECT_EQ(h3.rgba, (std::vector<std::uint8_t>{15, 200, 200, 200}));

    const PackedTexture two{2, 2, {0, 9, 9, 9, 0, 9, 9, 9, 0, 9, 9, 9, 1, 9, 9, 9}};
    EXPECT_EQ(two.halved().rgba, (std::vector<std::uint8_t>{0, 9, 9, 9}));

    const PackedTexture wide{4, 1, {0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 9, 9, 9, 9}};
    EXPECT_EQ(wide.halved(), (PackedTexture{2, 1, {2, 2, 2, 2, 9, 9, 9, 9}}));
}

TEST(PackedTextureWrite, StraightAlphaPngAtomically) {
    testsupport::TempDir dir;
    const PackedTexture t{2, 1, {200, 50, 10, 100, 1, 2, 3, 0}};
    const auto out = dir / "nested" / "deeper" / "t.tex"; // PNG whatever the extension
    t.writePNG(out);
    const cv::Mat back = cv::imread(out.string(), cv::IMREAD_UNCHANGED);
    ASSERT_EQ(back.type(), CV_8UC4);
    EXPECT_EQ(back.at<cv::Vec4b>(0, 0), cv::Vec4b(10, 50, 200, 100)); // BGRA
    EXPECT_EQ(back.at<cv::Vec4b>(0, 1), cv::Vec4b(3, 2, 1, 0));
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(out.parent_path())) ++entries;
    EXPECT_EQ(entries, 1u);

    const PackedTexture broken{3, 3, {1, 2, 3}};
    EXPECT_THROW(broken.writePNG(dir / "broken.png"), PackingError);
    EXPECT_FALSE(fs::exists(dir / "broken.png"));
    EXPECT_FALSE(broken.toImage().has_value());
}

class FlipNormal : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    ChannelPacker packer;
};

TEST_F(FlipNormal, InvertsGreenKeepsAlphaOfRgbaMaps) {
    const auto rgba = dir / "Brick_NormalGL.png";
    texturetest::writePng(rgba, texturetest::solidImage(4, 2, cv::Scalar(120, 200, 250, 77), 4));
    const auto t = packer.flipNormalGreen(rgba, 0);
    EXPECT_EQ(t.width, 4);
    EXPECT_EQ(t.height, 2);
    for (std::size_t i = 0; i < t.rgba.size(); i += 4)
        EXPECT_EQ((std::vector<std::uint8_t>(t.rgba.begin() + i, t.rgba.begin() + i + 4)),
                  (std::vector<std::uint8_t>{120, 55, 250, 77}));

    const auto rgb = dir / "Brick_N.png";
    texturetest::writePng(rgb, texturetest::solidImage(4, 2, cv::Scalar(120, 200, 250), 3));
    EXPECT_EQ(channelOf(packer.flipNormalGreen(rgb, 0).rgba, 3), std::vector<std::uint8_t>(8, 255));
    EXPECT_EQ(channelOf(packer.flipNormalGreen(rgb, 0).rgba, 1), std::vector<std::uint8_t>(8, 55));
}

TEST_F(FlipNormal, ShrinksToMaxSize) {
    const auto big = dir / "Big_Normal.png";
    cv::imwrite(big.string(), cv::Mat(1024, 4096, CV_8UC3, cv::Scalar(255, 128, 128)),
                {cv::IMWRITE_PNG_COMPRESSION, 1});
    const auto small = packer.flipNormalGreen(big, 1024);
    EXPECT_EQ(small.width, 1024);
    EXPECT_EQ(small.height, 256);
    EXPECT_EQ(small.rgba.size(), 1024u * 256u * 4u);
    const auto same = packer.flipNormalGreen(big, 0);
    EXPECT_EQ(same.width, 4096);
    EXPECT_EQ(same.height, 1024);
}

TEST_F(FlipNormal, NonImageThrowsCannotRead) {
    const auto bad = dir / "Fake_Normal.png";
    texturetest::writeText(bad);
    try {
        (void)packer.flipNormalGreen(bad, 0);
        FAIL();
    } catch (const PackingError& e) {
        EXPECT_STREQ(e.what(), "Could not read texture map Fake_Normal.png: not an image.");
    }
}

} // namespace
