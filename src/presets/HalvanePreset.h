#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "batch/BatchPreset.h"
#include "core/EnumTable.h"
#include "core/Error.h"

namespace presets {

// Shape of the web images.
enum class WebAspect { original, fourThree, threeTwo, sixteenNine };

inline constexpr core::EnumTable<WebAspect, 4> kWebAspects{{{
    {WebAspect::original, "original", "As shot"},
    {WebAspect::fourThree, "4:3", "4:3"},
    {WebAspect::threeTwo, "3:2", "3:2"},
    {WebAspect::sixteenNine, "16:9", "16:9"},
}}};

inline std::string_view rawValue(WebAspect a) { return kWebAspects.rawValue(a); }
inline std::string_view displayName(WebAspect a) { return kWebAspects.displayName(a); }
inline std::optional<WebAspect> webAspectFromRaw(std::string_view raw) { return kWebAspects.fromRaw(raw); }
inline std::vector<WebAspect> allWebAspects() { return kWebAspects.allCases(); }
// Width over height; none for original.
std::optional<double> ratio(WebAspect a);

// The listing site the web set is made for.
enum class Portal { mls, zillow, airbnb, custom };

// The national listing website that MLS boards feed.
inline constexpr std::string_view kNationalListingSite = "Realtor.com";

inline constexpr core::EnumTable<Portal, 4> kPortals{{{
    {Portal::mls, "mls", "MLS / Realtor.com"},
    {Portal::zillow, "zillow", "Zillow"},
    {Portal::airbnb, "airbnb", "Airbnb / Vrbo"},
    {Portal::custom, "custom", "Custom"},
}}};

inline std::string_view rawValue(Portal p) { return kPortals.rawValue(p); }
inline std::string_view displayName(Portal p) { return kPortals.displayName(p); }
inline std::optional<Portal> portalFromRaw(std::string_view raw) { return kPortals.fromRaw(raw); }
inline std::vector<Portal> allPortals() { return kPortals.allCases(); }

// The web-set values a portal asks for.
struct PortalSpec {
    double maxDimension = 0; // pixels, longest side
    std::int64_t maxKB = 0;
    WebAspect aspect = WebAspect::original;
    bool operator==(const PortalSpec&) const = default;
};

// None for custom.
std::optional<PortalSpec> spec(Portal p);
// Folder of the web set under the output folder.
std::string_view folderName(Portal p);
// The option panel's explanation under the portal picker.
std::string note(Portal p);

// The real-estate edition's preset.
class HalvanePreset : public batch::BatchPreset {
public:
    using Portal = presets::Portal;
    using WebAspect = presets::WebAspect;

    class PresetError : public core::Error {
    public:
        using core::Error::Error;
        static PresetError cannotDecodeImage(const std::filesystem::path& file);
        static PresetError cannotDecodeWatermark(const std::filesystem::path& file);
        static PresetError cannotMeetSizeLimit(std::int64_t maxKB);
        static PresetError encodingFailed();
        // Photo processing is not part of this build yet.
        static PresetError processingUnavailable();
    };

    // Every option at its default (the edition's default preset).
    HalvanePreset();
    // Portal mls and shape original, without applying the portal's spec.
    HalvanePreset(std::string propertyAddress, bool autoStraightenVerticals, bool stripGPSMetadata,
                  bool exportWebPackage, bool exportPrintPackage, double maxWebDimension,
                  std::int64_t maxWebFileSizeKB, std::optional<std::filesystem::path> watermarkURL,
                  double watermarkOpacity);

    std::string id() const override;
    std::string displayName() const override;
    std::string verticalName() const override;
    std::string description() const override;
    std::string systemIconName() const override;
    std::set<std::string> supportedExtensions() const override;
    std::string defaultNamingPattern() const override;

    // Fails every item until the photo engine is part of the build.
    std::vector<std::filesystem::path> process(const batch::BatchItem& item,
                                               const batch::ProcessingContext& context) const override;

    // Setting a portal with a spec copies it into maxWebDimension,
    // maxWebFileSizeKB and webAspect, also when it was already set; custom
    // changes nothing else.
    Portal portal() const { return portal_; }
    void setPortal(Portal portal);

    std::string propertyAddress = "1042_Maple_Lane";
    // portal (observed) sits here in the option order.
    WebAspect webAspect = WebAspect::original;
    bool mergeBrackets = false;
    bool autoStraightenVerticals = true;
    bool stripGPSMetadata = true;
    bool exportWebPackage = true;
    bool exportPrintPackage = true;
    double maxWebDimension = 2048;
    std::int64_t maxWebFileSizeKB = 2000;
    std::optional<std::filesystem::path> watermarkURL;
    double watermarkOpacity = 0.85;

private:
    Portal portal_ = Portal::mls;
};

} // namespace presets
