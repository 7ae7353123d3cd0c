#include <QSpinBox>
#include <QTest>

#include <gtest/gtest.h>

#include "presets/ZentrixPreset.h"
#include "ui/ZentrixApp.h"
#include "ui/ZentrixOptions.h"
#include "EditionPanelRig.h"

using image::DataFormat;
using image::NormalConvention;
using presets::OperationalMode;
using presets::ZentrixPreset;
using ui::ZentrixOptions;
using uitest::activate;
using uitest::rows;

namespace {

struct Rig : uitest::EditionPanelRig<ZentrixOptions, ZentrixPreset> {
    Rig() : EditionPanelRig(ui::ZentrixApp::defaultPreset(), presets::Vertical::zentrix) {}
    void mode(OperationalMode m) { panel->operationPicker()->setCurrentIndex(static_cast<int>(m)); }
};

struct ModeCase {
    OperationalMode mode;
    QStringList sections;
};

} // namespace

class ZentrixSections : public ::testing::TestWithParam<ModeCase> {};

TEST_P(ZentrixSections, FollowTheChosenJob) {
    Rig rig;
    rig.mode(GetParam().mode);
    EXPECT_EQ(rig.preset().operationalMode, GetParam().mode);
    EXPECT_EQ(rig.panel->shownSections(), GetParam().sections);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ZentrixSections,
    ::testing::Values(
        ModeCase{OperationalMode::channelPackingORM,
                 {"What To Do", "Engine Channel Layout", "Recognised Map Names", "GPU Sizing"}},
        ModeCase{OperationalMode::normalMapConvert, {"What To Do", "Normal Map Convention", "GPU Sizing"}},
        ModeCase{OperationalMode::normalFromHeight, {"What To Do", "Normal Map from Height", "GPU Sizing"}},
        ModeCase{OperationalMode::powerOfTwoEnforce, {"What To Do", "GPU Sizing"}},
        ModeCase{OperationalMode::spriteSheetAtlas, {"What To Do", "Sprite Sheet Packing"}},
        ModeCase{OperationalMode::tilingCheck, {"What To Do", "Seamless Tiling Check"}}));

TEST(ZentrixOptions, OperationRowsAreTheJobTitles) {
    Rig rig;
    EXPECT_EQ(rows(rig.panel->operationPicker()),
              QStringList({"Channel Packing (ORM / MaskMap)", QString::fromUtf8("Normal Map: DirectX \u21C4 OpenGL"),
                           "Normal Map from Height Map", "Enforce Power-of-Two (POT)", "2D Sprite Sheet Compilation",
                           "Seamless Tiling Check"}));
}

TEST(ZentrixOptions, NormalJobsShowTheMaxSizePickerAlone) {
    Rig rig;
    const auto& s = rig.panel->sizing();
    EXPECT_TRUE(rig.panel->rowShown(s.enforcePOT));
    EXPECT_TRUE(rig.panel->rowShown(s.mipmaps));
    rig.mode(OperationalMode::normalMapConvert);
    EXPECT_FALSE(rig.panel->rowShown(s.enforcePOT));
    EXPECT_FALSE(rig.panel->rowShown(s.forceSquare));
    EXPECT_FALSE(rig.panel->rowShown(s.mipmaps));
    EXPECT_TRUE(rig.panel->rowShown(s.maxSize));
    // Hidden rows keep their values.
    EXPECT_TRUE(rig.preset().enforcePOT);
    rig.mode(OperationalMode::powerOfTwoEnforce);
    EXPECT_TRUE(rig.panel->rowShown(s.forceSquare));
    s.forceSquare->setChecked(true);
    s.mipmaps->setChecked(true);
    s.enforcePOT->setChecked(false);
    EXPECT_TRUE(rig.preset().forceSquare);
    EXPECT_TRUE(rig.preset().generateMipmaps);
    EXPECT_FALSE(rig.preset().enforcePOT);
}

TEST(ZentrixOptions, MaxSizeKeepsAnUnlistedValueAsTheLastSelectedRow) {
    Rig rig;
    auto* picker = rig.panel->sizing().maxSize;
    EXPECT_EQ(rows(picker), QStringList({"No limit", "1024 (mobile)", "2048", "4096", "8192"}));
    EXPECT_EQ(picker->currentText(), "No limit");
    rig.set([](ZentrixPreset& p) { p.maxTextureSize = 3000; });
    EXPECT_EQ(rows(picker), QStringList({"No limit", "1024 (mobile)", "2048", "4096", "8192", "3000"}));
    EXPECT_EQ(picker->currentIndex(), 5);
    // The sprite section's copy shows the same.
    EXPECT_EQ(rig.panel->spriteMaxSize()->currentText(), "3000");
    activate(picker, 2);
    EXPECT_EQ(rig.preset().maxTextureSize, 2048);
    EXPECT_EQ(picker->count(), 5);
    EXPECT_EQ(picker->currentText(), "2048");
    activate(rig.panel->spriteMaxSize(), 0);
    EXPECT_EQ(rig.preset().maxTextureSize, 0);
    EXPECT_EQ(picker->currentText(), "No limit");
}

class ZentrixRotation : public ::testing::TestWithParam<std::pair<DataFormat, bool>> {};

TEST_P(ZentrixRotation, ToggleIsEnabledOnlyWhereTheFormatRotatesAndKeepsItsValue) {
    Rig rig;
    rig.mode(OperationalMode::spriteSheetAtlas);
    rig.set([](ZentrixPreset& p) { p.spriteRotate = true; });
    rig.panel->spriteFormatPicker()->setCurrentIndex(static_cast<int>(GetParam().first));
    EXPECT_EQ(rig.preset().spriteFormat, GetParam().first);
    EXPECT_EQ(rig.panel->rotateToggle()->isEnabled(), GetParam().second);
    EXPECT_TRUE(rig.panel->rotateToggle()->isChecked());
    EXPECT_TRUE(rig.preset().spriteRotate);
}

INSTANTIATE_TEST_SUITE_P(Formats, ZentrixRotation,
                         ::testing::Values(std::pair{DataFormat::jsonHash, true}, std::pair{DataFormat::jsonArray, true},
                                           std::pair{DataFormat::cocos, true}, std::pair{DataFormat::godot, false},
                                           std::pair{DataFormat::unity, false}));

TEST(ZentrixOptions, SteppersStopAtTheirEnds) {
    Rig rig;
    rig.mode(OperationalMode::spriteSheetAtlas);
    QSpinBox* padding = rig.panel->paddingStepper();
    QSpinBox* extrude = rig.panel->extrudeStepper();
    EXPECT_EQ(padding->text(), "Padding: 2 px");
    EXPECT_EQ(extrude->text(), "Extrude: 1 px");
    for (int i = 0; i < 20; ++i) padding->stepUp();
    EXPECT_EQ(rig.preset().spritePadding, 16);
    for (int i = 0; i < 20; ++i) padding->stepDown();
    EXPECT_EQ(rig.preset().spritePadding, 0);
    for (int i = 0; i < 20; ++i) extrude->stepUp();
    EXPECT_EQ(rig.preset().spriteExtrude, 8);
    EXPECT_EQ(extrude->text(), "Extrude: 8 px");
    for (int i = 0; i < 20; ++i) extrude->stepDown();
    EXPECT_EQ(rig.preset().spriteExtrude, 0);
}

TEST(ZentrixOptions, SpriteTogglesWriteTheirFields) {
    Rig rig;
    rig.panel->trimToggle()->setChecked(false);
    rig.panel->halfScaleToggle()->setChecked(true);
    EXPECT_FALSE(rig.preset().spriteTrim);
    EXPECT_TRUE(rig.preset().spriteHalfScale);
}

TEST(ZentrixOptions, StrengthLabelAndSliderRange) {
    Rig rig;
    rig.mode(OperationalMode::normalFromHeight);
    const auto& n = rig.panel->heightNormals();
    EXPECT_EQ(n.strengthValue->text(), "2.0");
    rig.set([](ZentrixPreset& p) { p.normalStrength = 2.26; });
    EXPECT_EQ(n.strengthValue->text(), "2.3");
    n.strength->setValue(100000);
    EXPECT_DOUBLE_EQ(rig.preset().normalStrength, 10.0);
    n.strength->setValue(-5);
    EXPECT_DOUBLE_EQ(rig.preset().normalStrength, 0.5);
    EXPECT_EQ(n.strengthValue->text(), "0.5");
    n.strength->setValue(375);
    EXPECT_DOUBLE_EQ(rig.preset().normalStrength, 3.75);
}

TEST(ZentrixOptions, PackingShowsNormalControlsOnlyWhenMissingNormalsAreMade) {
    Rig rig;
    const auto& n = rig.panel->packingNormals();
    EXPECT_FALSE(rig.panel->rowShown(n.convention));
    EXPECT_FALSE(rig.panel->rowShown(n.strengthRow));
    rig.panel->missingNormalToggle()->setChecked(true);
    EXPECT_TRUE(rig.preset().generateMissingNormal);
    EXPECT_TRUE(rig.panel->rowShown(n.convention));
    EXPECT_TRUE(rig.panel->rowShown(n.strengthRow));
}

TEST(ZentrixOptions, BothConventionPickersEditTheSameField) {
    Rig rig;
    EXPECT_EQ(rows(rig.panel->convertPicker()),
              QStringList({QString::fromUtf8("OpenGL (Y+) \u00B7 Unity, Blender, Godot"),
                           QString::fromUtf8("DirectX (Y\u2212) \u00B7 Unreal, 3ds Max")}));
    rig.mode(OperationalMode::normalMapConvert);
    rig.panel->convertPicker()->setCurrentIndex(1);
    EXPECT_EQ(rig.preset().normalTarget, NormalConvention::directX);
    EXPECT_EQ(rig.panel->heightNormals().convention->currentIndex(), 1);
    EXPECT_EQ(rig.panel->packingNormals().convention->currentIndex(), 1);
    rig.mode(OperationalMode::normalFromHeight);
    rig.panel->heightNormals().convention->setCurrentIndex(0);
    EXPECT_EQ(rig.preset().normalTarget, NormalConvention::openGL);
    EXPECT_EQ(rig.panel->convertPicker()->currentIndex(), 0);
}

TEST(ZentrixOptions, ProfilePickerShowsTheLayoutOfTheChosenProfile) {
    Rig rig;
    EXPECT_EQ(rows(rig.panel->profilePicker()),
              QStringList({"Unreal Engine (ORM)", "glTF / Godot (ORM)", "Unity HDRP Mask Map",
                           "Unity URP / Built-in (Metallic)"}));
    const QString before = rig.panel->layoutText()->text();
    EXPECT_EQ(before.toStdString(), image::layoutDescription(image::EngineProfile::unrealORM));
    rig.panel->profilePicker()->setCurrentIndex(2);
    EXPECT_EQ(rig.preset().engineProfile, image::EngineProfile::unityHDRPMaskMap);
    EXPECT_EQ(rig.panel->layoutText()->text().toStdString(),
              image::layoutDescription(image::EngineProfile::unityHDRPMaskMap));
}

TEST(ZentrixOptions, SnapshotsOfEachJobForAVisualCheck) {
    Rig rig;
    rig.set([](ZentrixPreset& p) { p.generateMissingNormal = true; });
    const char* names[] = {"packing", "normal-convert", "normal-from-height", "power-of-two", "sprites", "tiling"};
    for (auto m : presets::allOperationalModes()) {
        rig.mode(m);
        rig.snapshot(std::string("zentrix-options-") + names[static_cast<int>(m)]);
    }
}
