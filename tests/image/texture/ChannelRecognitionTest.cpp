#include <gtest/gtest.h>

#include "TextureTestFiles.h"
#include "image/texture/ChannelPacker.h"
#include "support/TestSupport.h"

namespace {

using image::Channel;
using image::ChannelPacker;
using image::EngineProfile;
using image::NormalConvention;
namespace fs = std::filesystem;

struct IdentifyCase {
    const char* file;
    const char* stem; // nullptr: not a channel map
    Channel channel;
};

void PrintTo(const IdentifyCase& c, std::ostream* os) { *os << c.file; }

class IdentifyChannel : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(IdentifyChannel, NamesTheChannelAndStem) {
    const auto& c = GetParam();
    const auto match = ChannelPacker().identify(fs::path("/textures") / c.file);
    if (!c.stem) {
        EXPECT_FALSE(match.has_value()) << c.file;
        return;
    }
    ASSERT_TRUE(match.has_value()) << c.file;
    EXPECT_EQ(match->stem, c.stem);
    EXPECT_EQ(match->channel, c.channel);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, IdentifyChannel,
    ::testing::Values(IdentifyCase{"Rock_AmbientOcclusion.png", "Rock", Channel::ambientOcclusion},
                      IdentifyCase{"rock_ao.PNG", "rock", Channel::ambientOcclusion},
                      IdentifyCase{"_AO.png", nullptr, Channel::ambientOcclusion},
                      IdentifyCase{"AO.png", nullptr, Channel::ambientOcclusion},
                      IdentifyCase{"Rock.png", nullptr, Channel::ambientOcclusion},
                      IdentifyCase{"Wall_Detail_Mask.tga", "Wall", Channel::detailMask},
                      IdentifyCase{"Wall_DetailMask.tga", "Wall", Channel::detailMask},
                      IdentifyCase{"A_Rough.png", "A", Channel::roughness},
                      IdentifyCase{"A_Roughness.png", "A", Channel::roughness},
                      IdentifyCase{"Stone_Displacement.exr", "Stone", Channel::height},
                      IdentifyCase{"Stone_DISP.tif", "Stone", Channel::height},
                      IdentifyCase{"Metal_Glossiness.jpg", "Metal", Channel::smoothness},
                      IdentifyCase{"Floor_Metalness.png", "Floor", Channel::metallic},
                      IdentifyCase{"a.b_Met.png", "a.b", Channel::metallic},
                      IdentifyCase{"Grass_Occlusion.bmp", "Grass", Channel::ambientOcclusion}));

struct NormalCase {
    const char* file;
    const char* stem;
    std::optional<NormalConvention> convention;
};

void PrintTo(const NormalCase& c, std::ostream* os) { *os << c.file; }

class IdentifyNormal : public ::testing::TestWithParam<NormalCase> {};

TEST_P(IdentifyNormal, NamesTheStemAndConvention) {
    const auto& c = GetParam();
    const auto match = ChannelPacker().identifyNormal(fs::path(c.file));
    if (!c.stem) {
        EXPECT_FALSE(match.has_value()) << c.file;
        return;
    }
    ASSERT_TRUE(match.has_value()) << c.file;
    EXPECT_EQ(match->stem, c.stem);
    EXPECT_EQ(match->convention, c.convention);
}

INSTANTIATE_TEST_SUITE_P(
    Endings, IdentifyNormal,
    ::testing::Values(NormalCase{"Brick_Normal_DX.png", "Brick", NormalConvention::directX},
                      NormalCase{"Brick_N.png", "Brick", std::nullopt},
                      NormalCase{"Brick_Nrm.exr", "Brick", std::nullopt},
                      NormalCase{"Brick_Normal.png", "Brick", std::nullopt},
                      NormalCase{"Brick_NormalOpenGL.png", "Brick", NormalConvention::openGL},
                      NormalCase{"brick_normalgl.PNG", "brick", NormalConvention::openGL},
                      NormalCase{"Brick_Normal_GL.tga", "Brick", NormalConvention::openGL},
                      NormalCase{"Brick_NormalDirectX.png", "Brick", NormalConvention::directX},
                      NormalCase{"_N.png", nullptr, std::nullopt},
                      NormalCase{"Brick_Roughness.png", nullptr, std::nullopt}));

TEST(ChannelRecognition, ImageExtensionsAreTheNineLowerCaseOnes) {
    const auto& ext = ChannelPacker::imageExtensions();
    EXPECT_EQ(ext.size(), 9u);
    for (const char* e : {"png", "tga", "tif", "tiff", "jpg", "jpeg", "exr", "bmp", "psd"}) EXPECT_TRUE(ext.count(e)) << e;
    EXPECT_FALSE(ext.count("PNG"));
}

class DiscoverChannels : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* name : {"rock_AO.png", "Rock_Roughness.png", "Rock_Roughness.txt", "Rock_Metallic.JPEG",
                                 ".Rock_Height.png", "Other_AO.png", "A_Rough.png", "A_Roughness.png", "A_AO.png",
                                 "Rock_Normal.png"})
            texturetest::writeText(dir / name);
        fs::create_directory(dir / "Rock_Height.png"); // a folder, not a map
    }
    testsupport::TempDir dir;
    ChannelPacker packer;
};

TEST_F(DiscoverChannels, GathersOneMaterialIgnoringCaseHiddenFilesAndOtherTypes) {
    const auto sources = packer.discoverChannels(dir / "rock_AO.png");
    ASSERT_TRUE(sources.has_value());
    const std::map<Channel, fs::path> expected{{Channel::ambientOcclusion, dir / "rock_AO.png"},
                                               {Channel::roughness, dir / "Rock_Roughness.png"},
                                               {Channel::metallic, dir / "Rock_Metallic.JPEG"}};
    EXPECT_EQ(sources->maps, expected);
    EXPECT_EQ(sources->all(), (std::vector<fs::path>{dir / "rock_AO.png", dir / "Rock_Roughness.png",
                                                     dir / "Rock_Metallic.JPEG"}));
    EXPECT_EQ(sources->primaryURL(), dir / "rock_AO.png");
}

TEST_F(DiscoverChannels, AskedFileWinsItsChannelOtherwiseFirstByName) {
    auto asked = packer.discoverChannels(dir / "A_Roughness.png");
    ASSERT_TRUE(asked.has_value());
    EXPECT_EQ(asked->maps.at(Channel::roughness), dir / "A_Roughness.png");
    auto other = packer.discoverChannels(dir / "A_AO.png");
    ASSERT_TRUE(other.has_value());
    EXPECT_EQ(other->maps.at(Channel::roughness), dir / "A_Rough.png");
    EXPECT_EQ(other->primaryURL(), dir / "A_AO.png");
}

TEST_F(DiscoverChannels, NonMapGivesNothing) {
    EXPECT_FALSE(packer.discoverChannels(dir / "Rock_Normal.png").has_value());
}

TEST_F(DiscoverChannels, MapWithoutImageExtensionStillGetsItsSiblings) {
    const auto sources = packer.discoverChannels(dir / "Rock_Roughness.txt");
    ASSERT_TRUE(sources.has_value());
    EXPECT_EQ(sources->maps.at(Channel::roughness), dir / "Rock_Roughness.png");
}

TEST(ChannelRecognition, UnlistableFolderConsidersTheFileAlone) {
    const fs::path lone = "/nonexistent-folder-for-test/Rock_AO.png";
    const auto sources = ChannelPacker().discoverChannels(lone);
    ASSERT_TRUE(sources.has_value());
    EXPECT_EQ(sources->maps, (std::map<Channel, fs::path>{{Channel::ambientOcclusion, lone}}));
    const auto none = ChannelPacker().discoverChannels("/nonexistent-folder-for-test/Rock_AO.txt");
    ASSERT_TRUE(none.has_value());
    EXPECT_TRUE(none->maps.empty());
    EXPECT_FALSE(none->primaryURL().has_value());
}

struct MissingCase {
    EngineProfile profile;
    std::vector<Channel> present;
    std::vector<std::string> missing;
};

void PrintTo(const MissingCase& c, std::ostream* os) { *os << image::rawValue(c.profile); }

class MissingInputs : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingInputs, ListsWhatTheLayoutLacksInLayoutOrder) {
    ChannelPacker::ChannelSources sources;
    for (Channel c : GetParam().present) sources.maps[c] = "/t/x.png";
    EXPECT_EQ(sources.missingInputs(GetParam().profile), GetParam().missing);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, MissingInputs,
    ::testing::Values(
        MissingCase{EngineProfile::unityMetallicSmoothness, {}, {"Metallic", "Smoothness"}},
        MissingCase{EngineProfile::unrealORM, {Channel::roughness}, {"AO", "Metallic", "Height"}},
        MissingCase{EngineProfile::unityHDRPMaskMap, {Channel::roughness}, {"Metallic", "AO", "Detail Mask"}},
        MissingCase{EngineProfile::unrealORM, {Channel::smoothness, Channel::ambientOcclusion}, {"Metallic", "Height"}},
        MissingCase{EngineProfile::gltfORM,
                    {Channel::ambientOcclusion, Channel::roughness, Channel::metallic},
                    {}}));

} // namespace
