#include "presets/HalvanePreset.h"

#include <fmt/format.h>

namespace presets {

namespace {

struct PortalInfo {
    Portal value;
    std::optional<PortalSpec> spec;
    std::string_view folderName;
};

const PortalInfo kPortalInfo[] = {
    {Portal::mls, PortalSpec{2048, 2000, WebAspect::original}, "MLS_Web_Package"},
    {Portal::zillow, PortalSpec{2048, 10000, WebAspect::fourThree}, "Zillow_Package"},
    {Portal::airbnb, PortalSpec{3000, 10000, WebAspect::threeTwo}, "Airbnb_Package"},
    {Portal::custom, std::nullopt, "MLS_Web_Package"},
};

const PortalInfo& info(Portal p) {
    for (const auto& i : kPortalInfo)
        if (i.value == p) return i;
    return kPortalInfo[0];
}

} // namespace

std::optional<double> ratio(WebAspect a) {
    switch (a) {
    case WebAspect::fourThree:
        return 4.0 / 3.0;
    case WebAspect::threeTwo:
        return 3.0 / 2.0;
    case WebAspect::sixteenNine:
        return 16.0 / 9.0;
    case WebAspect::original:
        break;
    }
    return std::nullopt;
}

std::optional<PortalSpec> spec(Portal p) { return info(p).spec; }
std::string_view folderName(Portal p) { return info(p).folderName; }

std::string note(Portal p) {
    switch (p) {
    case Portal::mls:
        return fmt::format("2048 px longest side, under 2 MB: accepted by most MLS boards, which feed {}.",
                           kNationalListingSite);
    case Portal::zillow:
        return "2048 px, cropped to 4:3 (the shape Zillow shows), under 10 MB.";
    case Portal::airbnb:
        return "3000 px, cropped to 3:2 landscape (Airbnb's gallery shape; minimum is 1024 x 683).";
    case Portal::custom:
        break;
    }
    return "Set your own size and file-size cap.";
}

HalvanePreset::PresetError HalvanePreset::PresetError::cannotDecodeImage(const std::filesystem::path& file) {
    return PresetError("Could not decode architectural image at " + file.filename().string());
}
HalvanePreset::PresetError HalvanePreset::PresetError::cannotDecodeImage(const std::filesystem::path& file,
                                                                        const std::string& reason) {
    return PresetError(fmt::format("{}: {}", cannotDecodeImage(file).what(), reason));
}
HalvanePreset::PresetError HalvanePreset::PresetError::cannotDecodeWatermark(const std::filesystem::path& file) {
    return PresetError("Could not read watermark image " + file.filename().string());
}
HalvanePreset::PresetError HalvanePreset::PresetError::cannotDecodeWatermark(const std::filesystem::path& file,
                                                                            const std::string& reason) {
    return PresetError(fmt::format("{}: {}", cannotDecodeWatermark(file).what(), reason));
}
HalvanePreset::PresetError HalvanePreset::PresetError::cannotMeetSizeLimit(std::int64_t maxKB) {
    return PresetError(fmt::format("Could not get the web image under {} KB", maxKB));
}
HalvanePreset::PresetError HalvanePreset::PresetError::encodingFailed() { return PresetError("JPEG encoding failed"); }

HalvanePreset::HalvanePreset() : HalvanePreset("1042_Maple_Lane", true, true, true, true, 2048, 2000, std::nullopt, 0.85) {}

HalvanePreset::HalvanePreset(std::string propertyAddress, bool autoStraightenVerticals, bool stripGPSMetadata,
                             bool exportWebPackage, bool exportPrintPackage, double maxWebDimension,
                             std::int64_t maxWebFileSizeKB, std::optional<std::filesystem::path> watermarkURL,
                             double watermarkOpacity)
    : propertyAddress(std::move(propertyAddress)), autoStraightenVerticals(autoStraightenVerticals),
      stripGPSMetadata(stripGPSMetadata), exportWebPackage(exportWebPackage), exportPrintPackage(exportPrintPackage),
      maxWebDimension(maxWebDimension), maxWebFileSizeKB(maxWebFileSizeKB), watermarkURL(std::move(watermarkURL)),
      watermarkOpacity(watermarkOpacity) {}

std::string HalvanePreset::id() const { return "com.tembrook.halvanepro"; }
std::string HalvanePreset::displayName() const { return "Halvane Pro"; }
std::string HalvanePreset::verticalName() const { return "Real Estate & Architecture"; }
std::string HalvanePreset::description() const {
    return "Auto-straighten vertical lines, strip seller GPS tags, apply watermark, and export MLS-ready Web + Print "
           "packages simultaneously.";
}
std::string HalvanePreset::systemIconName() const { return "building.2.crop.circle"; }
std::set<std::string> HalvanePreset::supportedExtensions() const {
    return {"jpg", "jpeg", "png", "heic", "tiff", "tif", "cr2", "cr3", "nef", "arw", "dng"};
}
std::string HalvanePreset::defaultNamingPattern() const { return "{address}_{index:02}_{size}"; }

void HalvanePreset::setPortal(Portal portal) {
    portal_ = portal;
    if (const auto s = spec(portal)) {
        maxWebDimension = s->maxDimension;
        maxWebFileSizeKB = s->maxKB;
        webAspect = s->aspect;
    }
}

} // namespace presets
