#include <cmath>
#include <limits>

#include <QImage>
#include <QTest>

#include <gtest/gtest.h>

#include "presets/HalvanePreset.h"
#include "support/TestSupport.h"
#include "ui/HalvaneApp.h"
#include "ui/HalvaneOptions.h"
#include "ui/ZentrixApp.h"
#include "ui/OptionLabels.h"
#include "EditionPanelRig.h"

using presets::HalvanePreset;
using presets::Portal;
using presets::WebAspect;
using ui::HalvaneOptions;
using uitest::activate;
using uitest::rows;

namespace {

struct Rig : uitest::EditionPanelRig<HalvaneOptions, HalvanePreset> {
    Rig() : EditionPanelRig(ui::HalvaneApp::defaultPreset(), presets::Vertical::halvane) {}
    void choose(Portal p) { panel->portalPicker()->setCurrentIndex(static_cast<int>(p)); }
};

} // namespace

TEST(HalvaneOptions, UnlistedDimensionGetsItsOwnSelectedRowInOrder) {
    Rig rig;
    rig.choose(Portal::custom);
    auto* picker = rig.panel->dimensionPicker();
    EXPECT_EQ(rows(picker), QStringList({"1024 px", "1536 px", "2048 px", "2560 px", "3000 px", "4096 px"}));
    EXPECT_EQ(picker->currentText(), "2048 px");
    rig.set([](HalvanePreset& p) { p.maxWebDimension = 1800; });
    EXPECT_EQ(rows(picker),
              QStringList({"1024 px", "1536 px", "1800 px", "2048 px", "2560 px", "3000 px", "4096 px"}));
    EXPECT_EQ(picker->currentText(), "1800 px");
    // Choosing a listed row writes it and the extra row goes.
    activate(picker, 5);
    EXPECT_DOUBLE_EQ(rig.preset().maxWebDimension, 3000);
    EXPECT_EQ(picker->count(), 6);
    EXPECT_EQ(picker->currentText(), "3000 px");
}

TEST(HalvaneOptions, ChoiceListsAddUnlistedValuesSorted) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(HalvaneOptions::dimensionChoices(2048), (std::vector<double>{1024, 1536, 2048, 2560, 3000, 4096}));
    EXPECT_EQ(HalvaneOptions::dimensionChoices(5000), (std::vector<double>{1024, 1536, 2048, 2560, 3000, 4096, 5000}));
    EXPECT_EQ(HalvaneOptions::dimensionChoices(100), (std::vector<double>{100, 1024, 1536, 2048, 2560, 3000, 4096}));
    const auto withNan = HalvaneOptions::dimensionChoices(nan);
    ASSERT_EQ(withNan.size(), 7u);
    EXPECT_TRUE(std::isnan(withNan.back()));
    EXPECT_EQ(HalvaneOptions::sizeChoices(2000), (std::vector<std::int64_t>{500, 1000, 2000, 3000, 5000, 10000}));
    EXPECT_EQ(HalvaneOptions::sizeChoices(20000),
              (std::vector<std::int64_t>{500, 1000, 2000, 3000, 5000, 10000, 20000}));
}

TEST(HalvaneOptions, NotANumberDimensionIsAnExtraSelectedRow) {
    Rig rig;
    rig.choose(Portal::custom);
    rig.set([](HalvanePreset& p) { p.maxWebDimension = std::numeric_limits<double>::quiet_NaN(); });
    auto* picker = rig.panel->dimensionPicker();
    ASSERT_EQ(picker->count(), 7);
    EXPECT_EQ(picker->currentIndex(), 6);
    EXPECT_EQ(picker->currentText(), "nan px");
}

TEST(HalvaneOptions, FileSizeRowsReadKilobytesBelowAThousandElseMegabytes) {
    Rig rig;
    rig.choose(Portal::custom);
    auto* picker = rig.panel->sizePicker();
    rig.set([](HalvanePreset& p) { p.maxWebFileSizeKB = 750; });
    EXPECT_EQ(rows(picker), QStringList({"500 KB", "750 KB", "1 MB", "2 MB", "3 MB", "5 MB", "10 MB"}));
    EXPECT_EQ(picker->currentText(), "750 KB");
    rig.set([](HalvanePreset& p) { p.maxWebFileSizeKB = 1500; });
    EXPECT_EQ(rows(picker), QStringList({"500 KB", "1 MB", "1.5 MB", "2 MB", "3 MB", "5 MB", "10 MB"}));
    EXPECT_EQ(picker->currentText(), "1.5 MB");
    activate(picker, 0);
    EXPECT_EQ(rig.preset().maxWebFileSizeKB, 500);
    EXPECT_EQ(HalvaneOptions::sizeLabel(2500), "2.5 MB");
}

TEST(HalvaneOptions, SiteChosenWithPickersHiddenStillSetsItsShapeAndLimits) {
    Rig rig;
    EXPECT_FALSE(rig.panel->rowShown(rig.panel->dimensionPicker()));
    rig.choose(Portal::zillow);
    EXPECT_EQ(rig.preset().portal(), Portal::zillow);
    EXPECT_EQ(rig.preset().webAspect, WebAspect::fourThree);
    EXPECT_DOUBLE_EQ(rig.preset().maxWebDimension, 2048);
    EXPECT_EQ(rig.preset().maxWebFileSizeKB, 10000);
    EXPECT_EQ(rig.panel->portalNote()->text(), "2048 px, cropped to 4:3 (the shape Zillow shows), under 10 MB.");
    EXPECT_FALSE(rig.panel->rowShown(rig.panel->sizePicker()));
    rig.choose(Portal::custom);
    for (QWidget* w : {static_cast<QWidget*>(rig.panel->dimensionPicker()), static_cast<QWidget*>(rig.panel->sizePicker()),
                       static_cast<QWidget*>(rig.panel->shapePicker())})
        EXPECT_TRUE(rig.panel->rowShown(w));
    EXPECT_EQ(rig.panel->dimensionPicker()->currentText(), "2048 px");
    EXPECT_EQ(rig.panel->sizePicker()->currentText(), "10 MB");
    EXPECT_EQ(rig.panel->shapePicker()->currentText(), "4:3");
    EXPECT_EQ(rig.panel->portalNote()->text(), "Set your own size and file-size cap.");
    // The shape picker writes its own field; the site stays custom.
    rig.panel->shapePicker()->setCurrentIndex(3);
    EXPECT_EQ(rig.preset().webAspect, WebAspect::sixteenNine);
    EXPECT_EQ(rig.preset().portal(), Portal::custom);
}

TEST(HalvaneOptions, SiteRowsAndNotesComeFromThePresetTable) {
    Rig rig;
    EXPECT_EQ(rows(rig.panel->portalPicker()), QStringList({"MLS / Realtor.com", "Zillow", "Airbnb / Vrbo", "Custom"}));
    EXPECT_EQ(rig.panel->portalNote()->text(),
              "2048 px longest side, under 2 MB: accepted by most MLS boards, which feed Realtor.com.");
    rig.choose(Portal::airbnb);
    EXPECT_DOUBLE_EQ(rig.preset().maxWebDimension, 3000);
    EXPECT_EQ(rig.preset().webAspect, WebAspect::threeTwo);
    EXPECT_EQ(rows(rig.panel->shapePicker()), QStringList({"As shot", "4:3", "3:2", "16:9"}));
}

TEST(HalvaneOptions, WebSetOffLeavesTheToggleAloneAndKeepsTheValues) {
    Rig rig;
    rig.choose(Portal::custom);
    EXPECT_EQ(HalvaneOptions::shownRows(rig.panel->webSection()), 6);
    rig.panel->webToggle()->setChecked(false);
    EXPECT_FALSE(rig.preset().exportWebPackage);
    EXPECT_EQ(HalvaneOptions::shownRows(rig.panel->webSection()), 1);
    EXPECT_TRUE(rig.panel->rowShown(rig.panel->webToggle()));
    EXPECT_EQ(rig.preset().portal(), Portal::custom);
    rig.panel->webToggle()->setChecked(true);
    EXPECT_EQ(HalvaneOptions::shownRows(rig.panel->webSection()), 6);
}

TEST(HalvaneOptions, OpacitySliderShowsOnlyWithALogo) {
    testsupport::TempDir dir;
    const auto logo = dir / "logo.png";
    QImage(8, 8, QImage::Format_ARGB32).save(QString::fromStdString(logo.string()));
    Rig rig;
    EXPECT_EQ(HalvaneOptions::shownRows(rig.panel->watermarkSection()), 1);
    EXPECT_FALSE(rig.panel->rowShown(rig.panel->opacitySlider()->parentWidget()));
    rig.panel->logoRow()->chooser = [logo] { return std::optional<std::filesystem::path>(logo); };
    QTest::mouseClick(rig.panel->logoRow()->chooseButton(), Qt::LeftButton);
    ASSERT_EQ(rig.preset().watermarkURL, logo);
    EXPECT_EQ(HalvaneOptions::shownRows(rig.panel->watermarkSection()), 2);
    rig.set([](HalvanePreset& p) { p.watermarkOpacity = 0.5; });
    EXPECT_EQ(rig.panel->opacityValue()->text(), "Opacity 50%");
    rig.panel->opacitySlider()->setValue(350);
    EXPECT_DOUBLE_EQ(rig.preset().watermarkOpacity, 0.35);
    EXPECT_EQ(rig.panel->opacityValue()->text(), "Opacity 35%");
    // The slider cannot leave 0.1 to 1.0.
    rig.panel->opacitySlider()->setValue(0);
    EXPECT_DOUBLE_EQ(rig.preset().watermarkOpacity, 0.1);
    // Removing the logo hides the slider and keeps the opacity.
    QTest::mouseClick(rig.panel->logoRow()->removeButton(), Qt::LeftButton);
    EXPECT_FALSE(rig.preset().watermarkURL.has_value());
    EXPECT_EQ(HalvaneOptions::shownRows(rig.panel->watermarkSection()), 1);
    EXPECT_DOUBLE_EQ(rig.preset().watermarkOpacity, 0.1);
}

TEST(HalvaneOptions, BracketNoteFollowsTheMergeToggle) {
    Rig rig;
    EXPECT_FALSE(rig.panel->rowShown(rig.panel->mergeNote()));
    rig.panel->mergeToggle()->setChecked(true);
    EXPECT_TRUE(rig.preset().mergeBrackets);
    EXPECT_TRUE(rig.panel->rowShown(rig.panel->mergeNote()));
    rig.panel->mergeToggle()->setChecked(false);
    EXPECT_FALSE(rig.panel->rowShown(rig.panel->mergeNote()));
}

TEST(HalvaneOptions, EveryControlWritesItsOwnField) {
    Rig rig;
    rig.panel->addressField()->setText({});
    QTest::keyClicks(rig.panel->addressField(), "7_Elm_Row");
    EXPECT_EQ(rig.preset().propertyAddress, "7_Elm_Row");
    rig.panel->straightenToggle()->setChecked(false);
    EXPECT_FALSE(rig.preset().autoStraightenVerticals);
    rig.panel->gpsToggle()->setChecked(false);
    EXPECT_FALSE(rig.preset().stripGPSMetadata);
    rig.panel->printToggle()->setChecked(false);
    EXPECT_FALSE(rig.preset().exportPrintPackage);
    EXPECT_TRUE(rig.preset().exportWebPackage);
    EXPECT_EQ(rig.panel->gpsToggle()->text(), "Remove GPS && Private Metadata"); // "&" drawn as "&"
}

// The labels first take away float error, then truncate; what cannot be a
// whole number gets a plain label.
struct LabelCase {
    double value;
    const char* label;
};
class HalvaneOpacityLabel : public ::testing::TestWithParam<LabelCase> {};
TEST_P(HalvaneOpacityLabel, ReadsTheTruncatedPercentage) {
    EXPECT_EQ(HalvaneOptions::opacityLabel(GetParam().value), QString::fromUtf8(GetParam().label));
}
INSTANTIATE_TEST_SUITE_P(Values, HalvaneOpacityLabel,
                         ::testing::Values(LabelCase{0.5, "Opacity 50%"}, LabelCase{0.35, "Opacity 35%"},
                                           LabelCase{0.29, "Opacity 29%"}, LabelCase{0.57, "Opacity 57%"},
                                           LabelCase{0.999, "Opacity 99%"}, LabelCase{1.0, "Opacity 100%"},
                                           LabelCase{0.1, "Opacity 10%"},
                                           LabelCase{std::numeric_limits<double>::quiet_NaN(), "Opacity"},
                                           LabelCase{std::numeric_limits<double>::infinity(), "Opacity"},
                                           LabelCase{1e300, "Opacity"}));

TEST(HalvaneOptions, DimensionLabelsTruncateAfterRemovingFloatError) {
    EXPECT_EQ(HalvaneOptions::dimensionLabel(2048), "2048 px");
    EXPECT_EQ(HalvaneOptions::dimensionLabel(1800.7), "1800 px");
    EXPECT_EQ(HalvaneOptions::dimensionLabel(0.29 * 100 * 100), "2900 px");
    EXPECT_EQ(HalvaneOptions::dimensionLabel(1e300), "1e+300 px");
    EXPECT_EQ(HalvaneOptions::dimensionLabel(-std::numeric_limits<double>::infinity()), "-inf px");
    EXPECT_EQ(ui::truncatedWhole(28.999999999999996), 29);
    EXPECT_EQ(ui::truncatedWhole(28.99), 28);
    EXPECT_EQ(ui::truncatedWhole(-2.5), -2);
    EXPECT_FALSE(ui::truncatedWhole(9.3e18).has_value());
}

TEST(HalvaneOptions, SnapshotsOfEachStateForAVisualCheck) {
    testsupport::TempDir dir;
    const auto logo = dir / "logo.png";
    QImage(8, 8, QImage::Format_ARGB32).save(QString::fromStdString(logo.string()));
    Rig rig;
    rig.snapshot("halvane-options-default");
    rig.choose(Portal::custom);
    rig.set([&](HalvanePreset& p) {
        p.mergeBrackets = true;
        p.maxWebDimension = 1800;
        p.watermarkURL = logo;
    });
    rig.snapshot("halvane-options-custom");
    rig.panel->webToggle()->setChecked(false);
    rig.snapshot("halvane-options-web-off");
}

TEST(EditionApps, BrandingComesFromTheEditionTableAndThePreset) {
    const auto h = ui::HalvaneApp::branding();
    EXPECT_EQ(h.title, "Halvane Pro");
    EXPECT_EQ(h.subtitle, presets::HalvanePreset().description());
    EXPECT_EQ(h.icon, "building.2.crop.circle");
    EXPECT_EQ(h.dropTitle, "Drop Listing Photos Here");
    EXPECT_EQ(h.runLabel, "Process All");
    EXPECT_EQ(h.itemNoun, "photo");
    EXPECT_EQ(h.tokens, "{address}, {index:02}, {size}, {name}, {date}");
    const auto z = ui::ZentrixApp::branding();
    EXPECT_EQ(z.title, "Zentrix Express");
    EXPECT_EQ(z.subtitle, presets::ZentrixPreset().description());
    EXPECT_EQ(z.icon, "cube.transparent");
    EXPECT_EQ(z.dropTitle, "Drop Textures or Sprite Frames Here");
    EXPECT_EQ(z.runLabel, "Process All");
    EXPECT_EQ(z.itemNoun, "texture");
    EXPECT_EQ(z.tokens, "{name}, {profile}, {pot}, {index:02}, {ext}");
    // Each edition keeps its own settings file.
    EXPECT_NE(ui::HalvaneApp::setup().settingsName, ui::ZentrixApp::setup().settingsName);
    EXPECT_EQ(ui::HalvaneApp::setup().vertical, presets::Vertical::halvane);
    EXPECT_EQ(ui::ZentrixApp::setup().edition, batch::Edition::zentrix);
}
