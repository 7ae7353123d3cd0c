// The real-estate option table and its apply order.

#include "presets/SettingsTable.h"

namespace presets {

namespace settings {

namespace {

using C = PresetSettingsCodec;
using P = HalvanePreset;

} // namespace

const OptionTable<HalvanePreset>& halvaneTable() {
    static const OptionTable<P> table = {
        {"address", "Property address used by the {address} token",
         [](const P& p) { return p.propertyAddress; },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.propertyAddress = v; }},
        {"straighten", "Auto-straighten verticals (true/false)",
         [](const P& p) { return C::boolText(p.autoStraightenVerticals); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.autoStraightenVerticals = C::boolValue(k, v);
         }},
        {"stripGPS", "Remove GPS and private metadata (true/false)",
         [](const P& p) { return C::boolText(p.stripGPSMetadata); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.stripGPSMetadata = C::boolValue(k, v);
         }},
        {"web", "Export the MLS web set (true/false)",
         [](const P& p) { return C::boolText(p.exportWebPackage); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.exportWebPackage = C::boolValue(k, v);
         }},
        {"print", "Export the full-resolution print set (true/false)",
         [](const P& p) { return C::boolText(p.exportPrintPackage); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.exportPrintPackage = C::boolValue(k, v);
         }},
        {"portal", "Web set for: mls | zillow | airbnb | custom (sets size, shape and file-size cap)",
         [](const P& p) { return std::string(rawValue(p.portal())); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.setPortal(lowered(k, v, [](const std::string& t) { return portalFromRaw(t); },
                                 "mls, zillow, airbnb or custom"));
         }},
        {"aspect", "Web image shape: original | 4:3 | 3:2 | 16:9",
         [](const P& p) { return std::string(rawValue(p.webAspect)); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.webAspect = lowered(k, v, [](const std::string& t) { return webAspectFromRaw(t); },
                                   "original, 4:3, 3:2 or 16:9");
         }},
        {"brackets", "Merge exposure brackets into one photo (true/false)",
         [](const P& p) { return C::boolText(p.mergeBrackets); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.mergeBrackets = C::boolValue(k, v);
         }},
        {"webMaxPixels", "Longest side of web images, e.g. 2048",
         [](const P& p) { return C::wholeText(p.maxWebDimension); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.maxWebDimension = static_cast<double>(C::intValue(k, v, 256, 16384));
         }},
        {"webMaxKB", "File-size cap for web images in KB, e.g. 2000",
         [](const P& p) { return C::wholeText(p.maxWebFileSizeKB); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.maxWebFileSizeKB = C::intValue(k, v, 50, 100000);
         }},
        {"watermark", "Path to a PNG/JPEG logo (empty for none)",
         [](const P& p) { return C::fileText(p.watermarkURL); },
         [](P& p, const std::string&, const std::string& v, const SettingsMap&) { p.watermarkURL = C::fileURL(v); }},
        {"watermarkOpacity", "Watermark opacity 0.1-1.0",
         [](const P& p) { return C::decimalText(p.watermarkOpacity); },
         [](P& p, const std::string& k, const std::string& v, const SettingsMap&) {
             p.watermarkOpacity = C::doubleValue(k, v, 0.05, 1.0);
         }},
    };
    return table;
}

} // namespace settings

void PresetSettingsCodec::apply(const SettingsMap& values, HalvanePreset& preset, bool strict) {
    // Web values without a portal mean the user's own web set.
    if (!values.contains("portal") &&
        (values.contains("webMaxPixels") || values.contains("webMaxKB") || values.contains("aspect")))
        preset.setPortal(Portal::custom);
    settings::applyEntries(settings::halvaneTable(), preset, settings::ordered(values, "portal"), values, strict);
}

} // namespace presets
