#include <gtest/gtest.h>

#include <ostream>

#include <fmt/format.h>

#include "batch/BatchItem.h"
#include "presets/ZentrixPreset.h"

using image::ScaleMode;
using presets::OperationalMode;
using presets::ZentrixPreset;

TEST(ZentrixPreset, IdentityAndDefaults) {
    ZentrixPreset p;
    EXPECT_EQ(p.id(), "com.tembrook.zentrix");
    EXPECT_EQ(p.displayName(), "Zentrix Express");
    EXPECT_EQ(p.verticalName(), "Indie Game Dev & 3D Art");
    EXPECT_EQ(p.systemIconName(), "cube.transparent");
    EXPECT_EQ(p.defaultNamingPattern(), "{name}_{profile}_{pot}");
    EXPECT_EQ(p.supportedExtensions(), (std::set<std::string>{"png", "tga", "tiff", "tif", "jpg", "jpeg", "exr"}));
    EXPECT_EQ(p.operationalMode, OperationalMode::channelPackingORM);
    EXPECT_EQ(p.engineProfile, image::EngineProfile::unrealORM);
    EXPECT_TRUE(p.enforcePOT);
    EXPECT_EQ(p.potScaleMode, ScaleMode::nearestPowerOfTwo());
    EXPECT_FALSE(p.forceSquare);
    EXPECT_EQ(p.maxTextureSize, 0);
    EXPECT_FALSE(p.generateMipmaps);
}

TEST(ZentrixPreset, SevenArgumentInitialiserLeavesTheRestAtDefaults) {
    ZentrixPreset p(OperationalMode::tilingCheck, image::EngineProfile::gltfORM, false, ScaleMode::fixedTarget(512),
                    true, 2048, true);
    EXPECT_EQ(p.operationalMode, OperationalMode::tilingCheck);
    EXPECT_EQ(p.engineProfile, image::EngineProfile::gltfORM);
    EXPECT_EQ(p.potScaleMode, ScaleMode::fixedTarget(512));
    EXPECT_EQ(p.maxTextureSize, 2048);
    EXPECT_TRUE(p.generateMipmaps && p.forceSquare && !p.enforcePOT);
    EXPECT_EQ(p.spritePadding, 2);
    EXPECT_EQ(p.spriteExtrude, 1);
    EXPECT_TRUE(p.spriteTrim);
    EXPECT_EQ(p.normalStrength, 2.0);
    EXPECT_EQ(p.normalTarget, image::NormalConvention::openGL);
    EXPECT_EQ(p.spriteFormat, image::DataFormat::jsonHash);
    EXPECT_FALSE(p.spriteHalfScale || p.spriteRotate || p.generateMissingNormal);
}

struct SizeCase {
    bool pot;
    ScaleMode mode;
    bool square;
    std::int64_t cap, w, h, ew, eh;
};

void PrintTo(const SizeCase& c, std::ostream* os) {
    *os << fmt::format("pot={} square={} cap={} {}x{}", c.pot, c.square, c.cap, c.w, c.h);
}

class TargetSize : public ::testing::TestWithParam<SizeCase> {};

TEST_P(TargetSize, PowerOfTwoThenCap) {
    const auto& c = GetParam();
    ZentrixPreset p;
    p.enforcePOT = c.pot;
    p.potScaleMode = c.mode;
    p.forceSquare = c.square;
    p.maxTextureSize = c.cap;
    EXPECT_EQ(p.targetSize(c.w, c.h), (ZentrixPreset::Size{c.ew, c.eh}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TargetSize,
    ::testing::Values(SizeCase{false, ScaleMode::nearestPowerOfTwo(), false, 0, 1000, 500, 1000, 500},
                      SizeCase{false, ScaleMode::nearestPowerOfTwo(), true, 0, 1000, 500, 1000, 500},
                      SizeCase{true, ScaleMode::nearestPowerOfTwo(), true, 0, 1000, 500, 1024, 1024},
                      SizeCase{true, ScaleMode::nearestPowerOfTwo(), false, 0, 1000, 500, 1024, 512},
                      SizeCase{false, ScaleMode::nearestPowerOfTwo(), false, 2048, 3000, 1000, 2048, 683},
                      SizeCase{true, ScaleMode::roundUpPowerOfTwo(), true, 3000, 4000, 4000, 3000, 3000},
                      SizeCase{false, ScaleMode::nearestPowerOfTwo(), false, 16, 10000, 10, 16, 1},
                      SizeCase{true, ScaleMode::fixedTarget(300), false, 0, 5000, 20, 300, 300},
                      // 1000 × 0.5 = 500 exactly; 333 × 0.5 = 166.5 rounds away from zero.
                      SizeCase{false, ScaleMode::nearestPowerOfTwo(), false, 500, 1000, 333, 500, 167}));

TEST(ZentrixPreset, OperationalModeRawValuesAreTheTitles) {
    const std::vector<std::string_view> titles = {"Channel Packing (ORM / MaskMap)", "Normal Map: DirectX \u21C4 OpenGL",
                                                  "Normal Map from Height Map",      "Enforce Power-of-Two (POT)",
                                                  "2D Sprite Sheet Compilation",     "Seamless Tiling Check"};
    const auto all = presets::allOperationalModes();
    ASSERT_EQ(all.size(), 6u);
    for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(presets::rawValue(all[i]), titles[i]);
    EXPECT_EQ(presets::operationalModeFromRaw("Seamless Tiling Check"), OperationalMode::tilingCheck);
    EXPECT_FALSE(presets::operationalModeFromRaw("tiling"));
    EXPECT_FALSE(presets::operationalModeFromRaw("seamless tiling check"));
}

TEST(ZentrixPreset, ErrorTexts) {
    EXPECT_STREQ(ZentrixPreset::TextureError::cannotOpenImage("/assets/rocks/rock.exr").what(),
                 "Failed to open texture image at rock.exr");
    EXPECT_STREQ(ZentrixPreset::TextureError::notSeamless("Seams on the left edge.").what(), "Seams on the left edge.");
    ZentrixPreset p;
    p.operationalMode = OperationalMode::powerOfTwoEnforce;
    batch::BatchItem item(core::Uuid::random(), "/in/rock.png");
    EXPECT_THROW(p.process(item, batch::ProcessingContext{}), ZentrixPreset::TextureError);
}
