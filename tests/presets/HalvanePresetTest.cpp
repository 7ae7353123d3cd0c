#include <gtest/gtest.h>

#include "batch/BatchItem.h"
#include "presets/HalvanePreset.h"

using presets::HalvanePreset;
using presets::Portal;
using presets::WebAspect;
namespace fs = std::filesystem;

TEST(HalvanePreset, IdentityAndDefaults) {
    HalvanePreset p;
    EXPECT_EQ(p.id(), "com.tembrook.halvanepro");
    EXPECT_EQ(p.displayName(), "Halvane Pro");
    EXPECT_EQ(p.verticalName(), "Real Estate & Architecture");
    EXPECT_EQ(p.systemIconName(), "building.2.crop.circle");
    EXPECT_EQ(p.defaultNamingPattern(), "{address}_{index:02}_{size}");
    EXPECT_EQ(p.description(), "Auto-straighten vertical lines, strip seller GPS tags, apply watermark, and export "
                               "MLS-ready Web + Print packages simultaneously.");
    EXPECT_EQ(p.supportedExtensions(), (std::set<std::string>{"jpg", "jpeg", "png", "heic", "tiff", "tif", "cr2",
                                                              "cr3", "nef", "arw", "dng"}));
    EXPECT_EQ(p.propertyAddress, "1042_Maple_Lane");
    EXPECT_EQ(p.portal(), Portal::mls);
    EXPECT_EQ(p.webAspect, WebAspect::original);
    EXPECT_FALSE(p.mergeBrackets);
    EXPECT_TRUE(p.autoStraightenVerticals && p.stripGPSMetadata && p.exportWebPackage && p.exportPrintPackage);
    EXPECT_EQ(p.maxWebDimension, 2048.0);
    EXPECT_EQ(p.maxWebFileSizeKB, 2000);
    EXPECT_FALSE(p.watermarkURL);
    EXPECT_EQ(p.watermarkOpacity, 0.85);
}

TEST(HalvanePreset, InitialiserDoesNotApplyThePortalSpec) {
    HalvanePreset p("12 Oak", false, false, true, false, 3000, 700, fs::path("/logo.png"), 0.5);
    EXPECT_EQ(p.portal(), Portal::mls);
    EXPECT_EQ(p.maxWebDimension, 3000.0);
    EXPECT_EQ(p.maxWebFileSizeKB, 700);
    EXPECT_EQ(p.watermarkURL, fs::path("/logo.png"));
    EXPECT_FALSE(p.autoStraightenVerticals);
}

TEST(HalvanePreset, PortalSetterCopiesTheSpecEveryTime) {
    HalvanePreset p;
    p.setPortal(Portal::zillow);
    EXPECT_EQ(p.maxWebDimension, 2048.0);
    EXPECT_EQ(p.maxWebFileSizeKB, 10000);
    EXPECT_EQ(p.webAspect, WebAspect::fourThree);
    p.maxWebFileSizeKB = 3000;
    HalvanePreset custom = p; // copying runs nothing
    EXPECT_EQ(custom.maxWebFileSizeKB, 3000);
    p.setPortal(Portal::zillow);
    EXPECT_EQ(p.maxWebFileSizeKB, 10000);
    custom.setPortal(Portal::custom);
    EXPECT_EQ(custom.maxWebFileSizeKB, 3000);
    EXPECT_EQ(custom.webAspect, WebAspect::fourThree);
    custom.setPortal(Portal::airbnb);
    EXPECT_EQ(custom.maxWebDimension, 3000.0);
    EXPECT_EQ(custom.webAspect, WebAspect::threeTwo);
}

TEST(HalvanePreset, PortalTable) {
    EXPECT_EQ(presets::allPortals(), (std::vector<Portal>{Portal::mls, Portal::zillow, Portal::airbnb, Portal::custom}));
    EXPECT_FALSE(presets::portalFromRaw("MLS"));
    EXPECT_EQ(presets::portalFromRaw("airbnb"), Portal::airbnb);
    EXPECT_EQ(presets::spec(Portal::mls), (presets::PortalSpec{2048, 2000, WebAspect::original}));
    EXPECT_EQ(presets::spec(Portal::airbnb), (presets::PortalSpec{3000, 10000, WebAspect::threeTwo}));
    EXPECT_FALSE(presets::spec(Portal::custom));
    EXPECT_EQ(presets::folderName(Portal::custom), "MLS_Web_Package");
    EXPECT_EQ(presets::folderName(Portal::zillow), "Zillow_Package");
    EXPECT_EQ(presets::folderName(Portal::airbnb), "Airbnb_Package");
    EXPECT_EQ(presets::displayName(Portal::mls), "MLS / Realtor.com");
    EXPECT_EQ(presets::displayName(Portal::airbnb), "Airbnb / Vrbo");
    EXPECT_EQ(presets::note(Portal::mls),
              "2048 px longest side, under 2 MB: accepted by most MLS boards, which feed Realtor.com.");
    EXPECT_EQ(presets::note(Portal::zillow), "2048 px, cropped to 4:3 (the shape Zillow shows), under 10 MB.");
    EXPECT_EQ(presets::note(Portal::airbnb),
              "3000 px, cropped to 3:2 landscape (Airbnb's gallery shape; minimum is 1024 x 683).");
    EXPECT_EQ(presets::note(Portal::custom), "Set your own size and file-size cap.");
}

TEST(HalvanePreset, WebAspectTable) {
    EXPECT_EQ(presets::displayName(WebAspect::original), "As shot");
    EXPECT_FALSE(presets::ratio(WebAspect::original));
    EXPECT_DOUBLE_EQ(*presets::ratio(WebAspect::fourThree), 4.0 / 3.0);
    EXPECT_DOUBLE_EQ(*presets::ratio(WebAspect::sixteenNine), 16.0 / 9.0);
    EXPECT_EQ(presets::webAspectFromRaw("3:2"), WebAspect::threeTwo);
    EXPECT_FALSE(presets::webAspectFromRaw("Original"));
}

TEST(HalvanePreset, ErrorTextsNameOnlyTheFile) {
    using E = HalvanePreset::PresetError;
    EXPECT_STREQ(E::cannotDecodeImage("/photos/house/front.heic").what(),
                 "Could not decode architectural image at front.heic");
    EXPECT_STREQ(E::cannotDecodeWatermark("/a/b/logo.png").what(), "Could not read watermark image logo.png");
    EXPECT_STREQ(E::cannotMeetSizeLimit(500).what(), "Could not get the web image under 500 KB");
    EXPECT_STREQ(E::encodingFailed().what(), "JPEG encoding failed");
}
