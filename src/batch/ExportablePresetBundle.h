#pragma once

#include <map>
#include <string>

#include "core/Dates.h"
#include "core/Json.h"

namespace batch {

// One preset's settings as a file: which preset and edition it belongs to,
// its default naming pattern and its options as key/value text.
struct ExportablePresetBundle {
    // The layout version every bundle this system makes carries.
    static constexpr const char* kCurrentVersion = "1.0";

    std::string version;
    std::string presetID;
    std::string presetName;
    std::string verticalName;
    std::string defaultNamingPattern;
    std::map<std::string, std::string> configuration;
    core::Date exportedAt;

    // The seven keys in field order; `exportedAt` as seconds since
    // 2001-01-01 00:00:00 UTC. Throws core::JsonShapeError naming the field
    // when a text is not valid UTF-8.
    nlohmann::ordered_json toJson() const;
    // Strict: all seven keys present with their types (texts are strings,
    // "configuration" an object of strings, "exportedAt" a number); other
    // keys are ignored. Throws core::JsonShapeError.
    static ExportablePresetBundle fromJson(const core::Json& object);
};

} // namespace batch
