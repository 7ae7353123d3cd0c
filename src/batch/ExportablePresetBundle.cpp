#include "batch/ExportablePresetBundle.h"

#include <cmath>

#include <fmt/format.h>

#include "core/Text.h"

namespace batch {

namespace {

// The largest distance from 2001 a date can have and still be held to the
// nanosecond by the system clock (about 285 years either way).
constexpr double kMaxSecondsFrom2001 = 9.0e9;

core::JsonShapeError notUtf8(std::string_view field) {
    return core::JsonShapeError(
        fmt::format("The preset bundle cannot be saved: the text of \"{}\" is not valid UTF-8.", field));
}
core::JsonShapeError dateOutOfRange() {
    return core::JsonShapeError("Key \"exportedAt\" holds a date out of range.");
}

void requireUtf8(std::string_view text, std::string_view field) {
    if (!core::isValidUtf8(text)) throw notUtf8(field);
}

} // namespace

nlohmann::ordered_json ExportablePresetBundle::toJson() const {
    requireUtf8(version, "version");
    requireUtf8(presetID, "presetID");
    requireUtf8(presetName, "presetName");
    requireUtf8(verticalName, "verticalName");
    requireUtf8(defaultNamingPattern, "defaultNamingPattern");
    nlohmann::ordered_json options = nlohmann::ordered_json::object();
    for (const auto& [key, value] : configuration) {
        // Name the option only when its key itself is readable.
        const std::string field = core::isValidUtf8(key) ? fmt::format("configuration.{}", key) : "configuration";
        requireUtf8(key, "configuration");
        requireUtf8(value, field);
        options[key] = value;
    }
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    object["version"] = version;
    object["presetID"] = presetID;
    object["presetName"] = presetName;
    object["verticalName"] = verticalName;
    object["defaultNamingPattern"] = defaultNamingPattern;
    object["configuration"] = std::move(options);
    object["exportedAt"] = core::secondsSince2001(exportedAt);
    return object;
}

ExportablePresetBundle ExportablePresetBundle::fromJson(const core::Json& object) {
    ExportablePresetBundle bundle;
    bundle.version = core::requireString(object, "version");
    bundle.presetID = core::requireString(object, "presetID");
    bundle.presetName = core::requireString(object, "presetName");
    bundle.verticalName = core::requireString(object, "verticalName");
    bundle.defaultNamingPattern = core::requireString(object, "defaultNamingPattern");
    bundle.configuration = core::requireStringMap(object, "configuration");
    const double seconds = core::requireDouble(object, "exportedAt");
    if (!std::isfinite(seconds) || std::fabs(seconds) > kMaxSecondsFrom2001) throw dateOutOfRange();
    bundle.exportedAt = core::dateFromSecondsSince2001(seconds);
    return bundle;
}

} // namespace batch
