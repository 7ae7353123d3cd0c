// Predictions of the texture preset, mode by mode, on real files.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "PlannerFixtures.h"
#include "image/texture/TilingChecker.h"
#include "presets/OutputPlanner.h"
#include "presets/ZentrixPreset.h"
#include "support/TestSupport.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using presets::OperationalMode;
using presets::OutputPlanner;
using namespace plannertest;

class TexturePlannerTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    presets::ZentrixPreset preset;

    fs::path out() const { return dir / "out"; }
    std::vector<batch::SimulatedItemReport> plan(const std::vector<std::string>& names,
                                                 std::string pattern = "") const {
        std::vector<fs::path> files;
        for (const auto& n : names) files.push_back(dir / n);
        if (pattern.empty()) pattern = preset.defaultNamingPattern();
        return OutputPlanner::plan(preset, itemsOf(files), configurationFor(out(), pattern), true);
    }
    void gray(const std::string& name, int w = 64, int h = 32) {
        writePng(dir / name, w, h, [](int x, int y) { return static_cast<std::uint8_t>((x * 7 + y * 3) & 0xFF); });
    }
};

// ---- Channel packing ------------------------------------------------------

TEST_F(TexturePlannerTest, MaterialIsPackedOnItsPrimaryMap) {
    for (const char* n : {"Rock_AO.png", "Rock_Roughness.png", "Rock_Metallic.png"}) gray(n);
    gray("Pebble.png");
    preset.generateMipmaps = true;
    const auto r = plan({"Rock_AO.png", "Rock_Roughness.png", "Rock_Metallic.png", "Pebble.png"});
    EXPECT_THAT(r[0].projectedFileNames, ElementsAre("Rock_ORM_64x32.png", "Rock_ORM_64x32_mip1\u2026 (mipmap chain)"));
    EXPECT_THAT(r[0].warnings, ElementsAre("No Height map found; Unreal Engine (ORM) defaults will be used"));
    EXPECT_THAT(r[1].projectedFileNames, IsEmpty());
    EXPECT_THAT(r[1].warnings, ElementsAre("Skipped: packed together with Rock_AO.png"));
    EXPECT_THAT(r[2].warnings, ElementsAre("Skipped: packed together with Rock_AO.png"));
    EXPECT_THAT(r[3].warnings, ElementsAre("Skipped: not an AO / Roughness / Smoothness / Metallic / Height map"));
}

TEST_F(TexturePlannerTest, MissingInputsAndTheMissingNormal) {
    gray("Rock_AO.png", 100, 50);
    gray("Rock_Roughness.png", 100, 50);
    gray("Rock_Height.png", 100, 50);
    preset.generateMissingNormal = true;
    auto r = plan({"Rock_AO.png"});
    EXPECT_THAT(r[0].projectedFileNames, ElementsAre("Rock_ORM_128x64.png", "Rock_NormalGL.png"));
    EXPECT_THAT(r[0].warnings,
                ElementsAre("No Metallic map found; Unreal Engine (ORM) defaults will be used"));

    // A normal map of the material already there: none is made.
    gray("rock_normal.png");
    r = plan({"Rock_AO.png"});
    EXPECT_THAT(r[0].projectedFileNames, ElementsAre("Rock_ORM_128x64.png"));
}

TEST_F(TexturePlannerTest, FirstMapInTheJobLeadsItsMaterial) {
    for (const char* n : {"Rock_AO.png", "Rock_Roughness.png", "Rock_Metallic.png"}) gray(n);
    const auto r = plan({"Rock_Metallic.png", "Rock_Roughness.png"});
    EXPECT_THAT(r[0].warnings, ElementsAre("Skipped: packed together with Rock_Roughness.png"));
    EXPECT_THAT(r[1].projectedFileNames, ElementsAre("Rock_ORM_64x32.png"));
}

// The packed texture and the made normal map under one name: one item
// writing a name twice is no collision with another item.
TEST_F(TexturePlannerTest, SameNameTwiceInOneReportIsNoCollision) {
    gray("Rock_AO.png");
    gray("Rock_Height.png");
    preset.generateMissingNormal = true;
    const auto r = plan({"Rock_AO.png"}, "{name}_NormalGL");
    EXPECT_THAT(r[0].projectedFileNames, ElementsAre("Rock_NormalGL.png", "Rock_NormalGL.png"));
    EXPECT_FALSE(OutputPlanner::hasCollisions(r));
    EXPECT_THAT(r[0].warnings, ElementsAre(::testing::StartsWith("No Roughness/Metallic map found")));
}

// ---- Normal maps ----------------------------------------------------------

struct NormalCase {
    OperationalMode mode;
    const char* file;
    const char* pattern; // empty: the default
    std::vector<std::string> names;
    std::vector<std::string> warnings;
};

class NormalPlannerTest : public TexturePlannerTest, public ::testing::WithParamInterface<NormalCase> {};

TEST_P(NormalPlannerTest, NamesAndWarnings) {
    const auto& c = GetParam();
    preset.operationalMode = c.mode;
    gray(c.file);
    const auto r = plan({c.file}, c.pattern);
    EXPECT_EQ(r[0].projectedFileNames, c.names);
    EXPECT_EQ(r[0].warnings, c.warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, NormalPlannerTest,
    ::testing::Values(
        NormalCase{OperationalMode::normalMapConvert, "Brick_NormalDX.png", "", {"Brick_NormalGL.png"}, {}},
        NormalCase{OperationalMode::normalMapConvert, "Brick_NormalGL.png", "", {}, {"Skipped: already GL"}},
        NormalCase{OperationalMode::normalMapConvert, "Brick_Normal.png", "", {"Brick_NormalGL.png"}, {}},
        NormalCase{OperationalMode::normalMapConvert, "Brick_NormalDX.png", "{name}-{pot}", {"Brick_NormalGL-_.png"}, {}},
        NormalCase{OperationalMode::normalMapConvert, "Brick.png", "", {},
                   {"Skipped: not named like a normal map (_Normal, _NormalDX, _NormalGL, _Nrm)"}},
        NormalCase{OperationalMode::normalFromHeight, "Cliff_Height.png", "", {"Cliff_NormalGL.png"}, {}},
        NormalCase{OperationalMode::normalFromHeight, "Cliff_Disp.png", "{profile}_{name}", {"GL_Cliff_NormalGL.png"}, {}},
        NormalCase{OperationalMode::normalFromHeight, "cliff.png", "", {"cliff_NormalGL.png"},
                   {"Not named like a height map (_Height, _Disp, _Bump); it will be treated as one"}}));

// ---- Power of two ---------------------------------------------------------

struct PotCase {
    bool enforce;
    bool square;
    int width;
    int height;
    std::vector<std::string> names;
    std::vector<std::string> warnings;
};

class PotPlannerTest : public TexturePlannerTest, public ::testing::WithParamInterface<PotCase> {};

TEST_P(PotPlannerTest, SizeInTheNameAndStretchWarning) {
    const auto& c = GetParam();
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    preset.enforcePOT = c.enforce;
    preset.forceSquare = c.square;
    gray("wall.png", c.width, c.height);
    const auto r = plan({"wall.png"});
    EXPECT_EQ(r[0].projectedFileNames, c.names);
    EXPECT_EQ(r[0].warnings, c.warnings);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PotPlannerTest,
    ::testing::Values(PotCase{true, true, 1000, 300, {"wall_POT_1024x1024.png"}, {"Will be stretched from 1000x300 to square"}},
                      PotCase{true, false, 1000, 300, {"wall_POT_1024x256.png"}, {}},
                      PotCase{true, true, 64, 64, {"wall_POT_64x64.png"}, {}},
                      PotCase{false, true, 1000, 300, {"wall_POT_1000x300.png"}, {}}));

TEST_F(TexturePlannerTest, PowerOfTwoMipmapsStandAsOneEntry) {
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    preset.generateMipmaps = true;
    gray("wall.png", 100, 50);
    const auto r = plan({"wall.png"});
    EXPECT_THAT(r[0].projectedFileNames,
                ElementsAre("wall_POT_128x64.png", "wall_POT_128x64_mip1\u2026 (mipmap chain)"));
}

TEST_F(TexturePlannerTest, UnreadableSizeLeavesAQuestionMark) {
    preset.operationalMode = OperationalMode::powerOfTwoEnforce;
    core::writeFileAtomically(dir / "broken.png", "not an image");
    const auto r = plan({"broken.png"});
    EXPECT_THAT(r[0].projectedFileNames, ElementsAre("broken_POT__.png")); // the resolver makes "?" safe
    EXPECT_THAT(r[0].warnings, IsEmpty());
}

// ---- Tiling check ---------------------------------------------------------

TEST_F(TexturePlannerTest, TilingPreviewOnlyForASeam) {
    preset.operationalMode = OperationalMode::tilingCheck;
    writeSeamlessPng(dir / "grass.png");
    writeRampPng(dir / "ramp.png");
    core::writeFileAtomically(dir / "broken.png", "not an image");
    const auto r = plan({"grass.png", "ramp.png", "broken.png"});
    EXPECT_THAT(r[0].projectedFileNames, IsEmpty());
    EXPECT_THAT(r[0].warnings, IsEmpty());
    EXPECT_THAT(r[1].projectedFileNames, ElementsAre("ramp_Tiled2x2.png"));
    EXPECT_THAT(r[1].warnings, ElementsAre(image::TilingChecker::check(dir / "ramp.png").summary()));
    EXPECT_THAT(r[1].warnings[0], ::testing::StartsWith("Visible seam"));
    EXPECT_THAT(r[2].projectedFileNames, IsEmpty());
    EXPECT_THAT(r[2].warnings, ElementsAre("Could not read the image"));
}

// ---- Sprite sheets --------------------------------------------------------

struct SpriteCase {
    image::DataFormat format;
    bool halfScale;
    bool rotate;
    std::vector<std::string> names;
    std::vector<std::string> warnings;
};

class SpritePlannerTest : public TexturePlannerTest, public ::testing::WithParamInterface<SpriteCase> {};

TEST_P(SpritePlannerTest, FirstFrameNamesTheSetOthersAreSkipped) {
    const auto& c = GetParam();
    preset.operationalMode = OperationalMode::spriteSheetAtlas;
    preset.spriteFormat = c.format;
    preset.spriteHalfScale = c.halfScale;
    preset.spriteRotate = c.rotate;
    for (const char* n : {"walk_01.png", "walk_02.png", "walk_03.png"}) gray(n, 16, 16);
    const auto r = plan({"walk_01.png", "walk_02.png", "walk_03.png"});
    EXPECT_EQ(r[0].projectedFileNames, c.names);
    EXPECT_EQ(r[0].warnings, c.warnings);
    for (int i : {1, 2}) {
        EXPECT_THAT(r[i].projectedFileNames, IsEmpty());
        EXPECT_THAT(r[i].warnings, ElementsAre("Skipped: frame of the walk sprite sheet"));
    }
    EXPECT_FALSE(OutputPlanner::hasCollisions(r));
}

INSTANTIATE_TEST_SUITE_P(
    Formats, SpritePlannerTest,
    ::testing::Values(
        SpriteCase{image::DataFormat::jsonHash, false, false, {"walk_Atlas.png", "walk_Atlas.json"}, {}},
        SpriteCase{image::DataFormat::jsonHash, true, true,
                   {"walk_Atlas.png", "walk_Atlas.json", "walk_Atlas@1x.png", "walk_Atlas@1x.json"}, {}},
        SpriteCase{image::DataFormat::cocos, false, false, {"walk_Atlas.png", "walk_Atlas.plist"}, {}},
        SpriteCase{image::DataFormat::unity, false, false, {"walk_Atlas.png", "walk_Atlas.png.meta"}, {}},
        SpriteCase{image::DataFormat::godot, false, true, {"walk_Atlas.png", "walk_Atlas.tres"},
                   {"Godot 4 SpriteFrames (.tres) can't use rotated frames; rotation is off for this format"}}));

TEST_F(TexturePlannerTest, LoneSpriteAndFirstQueuedFrameLead) {
    preset.operationalMode = OperationalMode::spriteSheetAtlas;
    gray("hero.png", 16, 16);
    for (const char* n : {"run_1.png", "run_2.png", "run_10.png"}) gray(n, 16, 16);
    // run_1 is not queued: run_2 leads the sequence.
    const auto r = plan({"hero.png", "run_10.png", "run_2.png"});
    EXPECT_THAT(r[0].projectedFileNames, ElementsAre("hero_Atlas.png", "hero_Atlas.json"));
    EXPECT_THAT(r[0].warnings, ElementsAre("Only one frame found for this sheet"));
    EXPECT_THAT(r[1].warnings, ElementsAre("Skipped: frame of the run sprite sheet"));
    EXPECT_THAT(r[2].projectedFileNames, ElementsAre("run_Atlas.png", "run_Atlas.json"));
}

TEST_F(TexturePlannerTest, TwoSequencesOfOneNameCollide) {
    preset.operationalMode = OperationalMode::spriteSheetAtlas;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    gray("a/jump_1.png", 16, 16);
    gray("b/jump_1.png", 16, 16);
    const auto r = plan({"a/jump_1.png", "b/jump_1.png"});
    EXPECT_TRUE(OutputPlanner::hasCollisions(r));
    // The other item is named by its path under the items' common folder;
    // sheets are named after their sequence, so no pattern is advised.
    EXPECT_THAT(r[1].warnings, ElementsAre("Only one frame found for this sheet",
                                           "jump_Atlas.png is also written by a/jump_1.png",
                                           "jump_Atlas.json is also written by a/jump_1.png"));
    EXPECT_EQ(r[0].warnings.back(), "jump_Atlas.json is also written by b/jump_1.png");
}

} // namespace
