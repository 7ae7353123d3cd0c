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
#include "core/WorkArea.h"
#include "image/photo/ArchitecturalStraightener.h"
#include "image/picture/CoreImagePipeline.h"
#include "image/picture/Image.h"
#include "image/photo/WatermarkRenderer.h"

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
        // The same texts followed by ": " and why ("the file is empty").
        static PresetError cannotDecodeImage(const std::filesystem::path& file, const std::string& reason);
        static PresetError cannotDecodeWatermark(const std::filesystem::path& file);
        static PresetError cannotDecodeWatermark(const std::filesystem::path& file, const std::string& reason);
        static PresetError cannotMeetSizeLimit(std::int64_t maxKB);
        static PresetError encodingFailed();
    };

    // The two deliverable sets: the value of the "size" naming token.
    enum class OutputSet { print, web };

    // A crop in pixels, rows from the top.
    struct CropRect {
        int x = 0;
        int y = 0;
        int width = 0;
        int height = 0;
        bool operator==(const CropRect&) const = default;
    };

    // One encoding the web size search made.
    struct WebEncoding {
        int width = 0;
        int height = 0;
        double quality = 0;
        std::size_t bytes = 0;
        bool operator==(const WebEncoding&) const = default;
    };

    // The print set's folder under the output folder.
    static constexpr std::string_view kPrintFolderName = "Print_Package";
    // Qualities the web size search tries in every pass, in order.
    static constexpr double kWebQualities[] = {0.85, 0.78, 0.70, 0.62, 0.55};
    static constexpr int kWebPasses = 6;
    static constexpr double kWebShrinkPerPass = 0.85;

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

    // Work folders are "Halvane-<UUID>" under the temporary directory; every
    // item holds one while it runs, noting the folders it writes into.
    static constexpr std::string_view kWorkFolderPrefix = "Halvane";
    // Removes what crashed or killed runs left: their work folders and the
    // temporary files in their output folders. Called once at start-up.
    static core::SweepResult sweepLeftovers();

    // One photo (or the bracket it leads) into its print and web files,
    // print first. Throws batch::BatchSkip for a bracket member another item
    // merges, PresetError, the fusion's, writing's and stripping's errors.
    std::vector<std::filesystem::path> process(const batch::BatchItem& item,
                                               const batch::ProcessingContext& context) const override;

    // ---- The rules process() follows, shared with the output planner ----

    // The folder of a set under the output folder ("Print_Package" or the
    // portal's folder).
    std::string folderName(OutputSet set) const;
    // The file name of a set: the pattern resolved with the tokens
    // "address" (propertyAddress) and "size" ("Print" or "Web"), plus ".jpg".
    std::string outputFileName(OutputSet set, const batch::BatchItem& item, std::string_view pattern,
                               std::int64_t index, std::int64_t total) const;
    static std::string_view sizeToken(OutputSet set);

    // The photo that merges a bracket: the first of its files that is in the
    // job (compared as absolute, normalised paths); the bracket's first file
    // when the job's files are unknown or none of them is in it.
    static std::filesystem::path bracketLeader(const std::vector<std::filesystem::path>& bracket,
                                               const std::vector<std::filesystem::path>& jobSourcePaths);
    // "<name> is merged into <leader file>'s bracket"
    static std::string bracketSkipReason(std::string_view originalFileName, const std::filesystem::path& leader);
    // "<name>: merged N exposures (A.jpg, B.jpg, ...)"
    static std::string mergeLogLine(std::string_view originalFileName,
                                    const std::vector<std::filesystem::path>& bracket);
    // "<name>: verticals already straight (N lines checked)" or
    // "<name>: corrected R° roll, K% keystone (N lines)", the roll in degrees
    // with its sign turned.
    static std::string straightenLogLine(std::string_view originalFileName,
                                         const image::ArchitecturalStraightener::StraightenParameters& parameters);
    // "Optimizing Web MLS Package (< N MB)..." with N = maxKB / 1000.
    static std::string webProgressMessage(std::int64_t maxKB);
    // bottomRight, scale 0.18, margin 0.03, the given opacity.
    static image::WatermarkRenderer::WatermarkOptions watermarkOptions(double opacity);

    // The centred crop of a w x h picture to `aspect`; none when the picture
    // stays as it is (original shape, portrait or square, or a crop within a
    // pixel of the whole).
    static std::optional<CropRect> cropRect(int width, int height, WebAspect aspect);
    // The picture cropped by cropRect, starting at (0, 0).
    static image::Image cropped(const image::Image& image, WebAspect aspect);
    // The properties without their GPS entries, EXIF and XMP alike.
    static image::ImageMetadata withoutGPS(image::ImageMetadata properties);

    // The web set's size search: up to six passes, each scaling to the
    // pass's longest side (maxWebDimension, then x 0.85 each pass) and trying
    // the five qualities; the first encoding no larger than maxWebFileSizeKB
    // (KB of 1024 bytes), metadata included, is returned. A pass whose size
    // equals the previous pass's is skipped. `tried`, when given, receives
    // every encoding made. Throws cannotMeetSizeLimit or encodingFailed.
    std::vector<std::uint8_t> encodeUnderSizeCap(const image::Image& image, const image::ImageMetadata& properties,
                                                 const image::CoreImagePipeline& pipeline,
                                                 std::vector<WebEncoding>* tried = nullptr) const;

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
