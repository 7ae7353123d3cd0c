// The texture preset's runs in all six modes against the planner's
// prediction for the same generated batch.

#include <gtest/gtest.h>

#include "../PlannerFixtures.h"
#include "PlannerCrossCheck.h"
#include "presets/ZentrixPreset.h"
#include "support/TestSupport.h"

namespace {

using presets::OperationalMode;
using presets::OutputPlanner;
using namespace plannertest;

struct ModeCase {
    const char* label;
    OperationalMode mode;
    std::vector<std::string> files;
};

std::string caseName(const ::testing::TestParamInfo<ModeCase>& info) { return info.param.label; }

class TextureCrossCheck : public ::testing::TestWithParam<ModeCase> {};

void writeInput(const fs::path& file) {
    const std::string name = file.filename().string();
    if (name == "grass.png") return writeSeamlessPng(file);
    if (name == "ramp.png") return writeRampPng(file);
    if (name == "broken.png") return core::writeFileAtomically(file, "not an image");
    const int w = name == "wall.png" ? 100 : 64, h = name == "wall.png" ? 50 : 64;
    writePng(file, w, h, [](int x, int y) { return static_cast<std::uint8_t>((x * 9 + y * 5) & 0xFF); });
}

TEST_P(TextureCrossCheck, RunWritesThePredictedFiles) {
    const auto& c = GetParam();
    testsupport::TempDir dir;
    std::vector<fs::path> files;
    for (const auto& n : c.files) {
        files.push_back(dir / "in" / n);
        writeInput(files.back());
    }
    auto preset = std::make_shared<presets::ZentrixPreset>();
    preset->operationalMode = c.mode;
    preset->generateMipmaps = true;
    preset->generateMissingNormal = true;
    preset->spriteHalfScale = true;
    preset->spriteFormat = image::DataFormat::godot;
    const auto items = itemsOf(files);
    auto configuration = configurationFor(dir / "out", preset->defaultNamingPattern());
    configuration.maxConcurrentTasks = 4;

    const auto reports = OutputPlanner::plan(*preset, items, configuration, true);
    const auto statuses = runBatch(preset, items, configuration);
    EXPECT_TRUE(sameSkips(reports, statuses));
    EXPECT_TRUE(sameAsPredicted(reports, dir / "out"));
    EXPECT_FALSE(OutputPlanner::hasCollisions(reports));
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TextureCrossCheck,
    ::testing::Values(
        ModeCase{"channels", OperationalMode::channelPackingORM,
                 {"Rock_AO.png", "Rock_Roughness.png", "Rock_Metallic.png", "Rock_Height.png", "Moss_Roughness.png",
                  "Pebble.png"}},
        ModeCase{"normals", OperationalMode::normalMapConvert,
                 {"Brick_NormalDX.png", "Wall_NormalGL.png", "Stone_Normal.png", "plain.png"}},
        ModeCase{"heights", OperationalMode::normalFromHeight, {"Cliff_Height.png", "sand.png"}},
        ModeCase{"pot", OperationalMode::powerOfTwoEnforce, {"wall.png", "floor.png"}},
        ModeCase{"sprites", OperationalMode::spriteSheetAtlas,
                 {"walk_01.png", "walk_02.png", "walk_03.png", "hero.png"}},
        ModeCase{"tiling", OperationalMode::tilingCheck, {"grass.png", "ramp.png", "broken.png"}}),
    caseName);

} // namespace
