#include <gtest/gtest.h>

#include <ostream>

#include "image/texture/TextureOptions.h"

using namespace image;

TEST(TextureOptions, ChannelRawValuesAreZeroToFiveInCaseOrder) {
    const auto all = allChannels();
    ASSERT_EQ(all.size(), 6u);
    const std::vector<std::string_view> names = {"AO", "Roughness", "Smoothness", "Metallic", "Height", "Detail Mask"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(rawValue(all[i]), i);
        EXPECT_EQ(channelFromRaw(i), all[i]);
        EXPECT_EQ(displayName(all[i]), names[i]);
    }
    EXPECT_FALSE(channelFromRaw(6));
    EXPECT_FALSE(channelFromRaw(-1));
}

TEST(TextureOptions, ChannelSuffixesInMatchingOrder) {
    using V = std::vector<std::string_view>;
    EXPECT_EQ(suffixes(Channel::ambientOcclusion), (V{"_AmbientOcclusion", "_Occlusion", "_AO", "_Occ"}));
    EXPECT_EQ(suffixes(Channel::roughness), (V{"_Roughness", "_Rough", "_Rgh"}));
    EXPECT_EQ(suffixes(Channel::smoothness), (V{"_Smoothness", "_Glossiness", "_Smooth", "_Gloss"}));
    EXPECT_EQ(suffixes(Channel::metallic), (V{"_Metallic", "_Metalness", "_Metal", "_Met"}));
    EXPECT_EQ(suffixes(Channel::height), (V{"_Displacement", "_Height", "_Disp"}));
    EXPECT_EQ(suffixes(Channel::detailMask), (V{"_DetailMask", "_Detail_Mask"}));
}

struct ProfileCase {
    EngineProfile profile;
    std::string_view raw, display, fileTag, layout;
};

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.raw; }

class EngineProfiles : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(EngineProfiles, TextsAndLayout) {
    const auto& c = GetParam();
    EXPECT_EQ(rawValue(c.profile), c.raw);
    EXPECT_EQ(engineProfileFromRaw(c.raw), c.profile);
    EXPECT_EQ(displayName(c.profile), c.display);
    EXPECT_EQ(fileTag(c.profile), c.fileTag);
    EXPECT_EQ(layoutDescription(c.profile), c.layout);
}

INSTANTIATE_TEST_SUITE_P(
    AllCases, EngineProfiles,
    ::testing::Values(
        ProfileCase{EngineProfile::unrealORM, "unreal", "Unreal Engine (ORM)", "ORM",
                    "R: AO \u00B7 G: Roughness \u00B7 B: Metallic \u00B7 A: Height"},
        ProfileCase{EngineProfile::gltfORM, "gltf", "glTF / Godot (ORM)", "ORM",
                    "R: AO \u00B7 G: Roughness \u00B7 B: Metallic \u00B7 A: White"},
        ProfileCase{EngineProfile::unityHDRPMaskMap, "hdrp", "Unity HDRP Mask Map", "MaskMap",
                    "R: Metallic \u00B7 G: AO \u00B7 B: Detail Mask \u00B7 A: Smoothness"},
        ProfileCase{EngineProfile::unityMetallicSmoothness, "urp", "Unity URP / Built-in (Metallic)",
                    "MetallicSmoothness", "R: Metallic \u00B7 G: Metallic \u00B7 B: Metallic \u00B7 A: Smoothness"}));

TEST(TextureOptions, ProfileOrderAndLayouts) {
    EXPECT_EQ(allEngineProfiles(), (std::vector<EngineProfile>{EngineProfile::unrealORM, EngineProfile::gltfORM,
                                                               EngineProfile::unityHDRPMaskMap,
                                                               EngineProfile::unityMetallicSmoothness}));
    const auto gltf = layout(EngineProfile::gltfORM);
    EXPECT_EQ(gltf[3], ChannelRecipe::constant(255));
    EXPECT_NE(gltf[3], ChannelRecipe::constant(254));
    EXPECT_EQ(gltf[0].channel(), Channel::ambientOcclusion);
    EXPECT_FALSE(gltf[3].channel());
    EXPECT_EQ(layout(EngineProfile::unityHDRPMaskMap)[2], ChannelRecipe::of(Channel::detailMask));
}

TEST(TextureOptions, RecipeTexts) {
    EXPECT_EQ(ChannelRecipe::constant(0).text(), "Black");
    EXPECT_EQ(ChannelRecipe::constant(255).text(), "White");
    EXPECT_EQ(ChannelRecipe::constant(128).text(), "128");
    EXPECT_EQ(ChannelRecipe::of(Channel::detailMask).text(), "Detail Mask");
}

TEST(TextureOptions, RawValuesAreMatchedExactly) {
    EXPECT_FALSE(engineProfileFromRaw("Unreal"));
    EXPECT_FALSE(normalConventionFromRaw("GL"));
    EXPECT_FALSE(dataFormatFromRaw("JSON"));
    EXPECT_FALSE(dataFormatFromRaw("json "));
}

TEST(TextureOptions, NormalConventions) {
    EXPECT_EQ(allNormalConventions(), (std::vector<NormalConvention>{NormalConvention::openGL, NormalConvention::directX}));
    EXPECT_EQ(rawValue(NormalConvention::openGL), "gl");
    EXPECT_EQ(rawValue(NormalConvention::directX), "dx");
    EXPECT_EQ(tag(NormalConvention::openGL), "GL");
    EXPECT_EQ(tag(NormalConvention::directX), "DX");
    EXPECT_EQ(displayName(NormalConvention::openGL), "OpenGL (Y+) \xC2\xB7 Unity, Blender, Godot");
    // U+2212 MINUS SIGN, not a hyphen.
    EXPECT_EQ(displayName(NormalConvention::directX), "DirectX (Y\xE2\x88\x92) \xC2\xB7 Unreal, 3ds Max");
}

TEST(TextureOptions, DataFormats) {
    struct Row {
        DataFormat f;
        std::string_view raw, display, suffix;
        bool rotation;
    };
    const Row rows[] = {
        {DataFormat::jsonHash, "json", "JSON Hash (Phaser, PixiJS)", ".json", true},
        {DataFormat::jsonArray, "json-array", "JSON Array (Phaser, generic)", ".json", true},
        {DataFormat::cocos, "cocos", "Cocos2d (.plist)", ".plist", true},
        {DataFormat::godot, "godot", "Godot 4 SpriteFrames (.tres)", ".tres", false},
        {DataFormat::unity, "unity", "Unity sliced sprite (.png.meta)", ".png.meta", false},
    };
    const auto all = allDataFormats();
    ASSERT_EQ(all.size(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(rows[i].raw);
        EXPECT_EQ(all[i], rows[i].f);
        EXPECT_EQ(rawValue(rows[i].f), rows[i].raw);
        EXPECT_EQ(dataFormatFromRaw(rows[i].raw), rows[i].f);
        EXPECT_EQ(displayName(rows[i].f), rows[i].display);
        EXPECT_EQ(fileSuffix(rows[i].f), rows[i].suffix);
        EXPECT_EQ(supportsRotation(rows[i].f), rows[i].rotation);
    }
}

TEST(TextureOptions, ScaleModeEqualityLooksAtTheSizeOnlyForFixedTargets) {
    EXPECT_EQ(ScaleMode::fixedTarget(300), ScaleMode::fixedTarget(300));
    EXPECT_NE(ScaleMode::fixedTarget(300), ScaleMode::fixedTarget(301));
    EXPECT_NE(ScaleMode::fixedTarget(0), ScaleMode::nearestPowerOfTwo());
    EXPECT_EQ((ScaleMode{ScaleMode::Kind::roundUpPowerOfTwo, 5}), ScaleMode::roundUpPowerOfTwo());
}
