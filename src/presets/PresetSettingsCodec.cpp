#include "presets/PresetSettingsCodec.h"

#include <cmath>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

#include <fmt/format.h>

#include "batch/ExportablePresetBundle.h"
#include "core/Dates.h"
#include "core/Numbers.h"
#include "core/Text.h"
#include "episode/ChapterBuilder.h"
#include "presets/SettingsTable.h"

namespace presets {

namespace {

// Blanks are spaces and tabs; line breaks are kept.
std::string trimBlanks(std::string_view text) { return core::trimCharacters(text, " \t"); }

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') return home;
    if (const passwd* pw = getpwuid(getuid()); pw != nullptr && pw->pw_dir != nullptr) return pw->pw_dir;
    return "/";
}

bool isPowerOfTwo(std::int64_t v) { return v > 0 && (v & (v - 1)) == 0; }

} // namespace

PresetSettingsCodec::CodecError::CodecError(Kind kind, std::string description, std::string key, std::string value,
                                            std::string expected, std::vector<std::string> allowed)
    : core::Error(description), kind_(kind), key_(std::move(key)), value_(std::move(value)),
      expected_(std::move(expected)), allowed_(std::move(allowed)) {}

PresetSettingsCodec::CodecError PresetSettingsCodec::CodecError::unknownKey(std::string key,
                                                                            std::vector<std::string> allowed) {
    std::string text = "Unknown option '" + key + "'. Options: " + core::join(allowed, ", ");
    return CodecError(Kind::unknownKey, std::move(text), std::move(key), {}, {}, std::move(allowed));
}

PresetSettingsCodec::CodecError PresetSettingsCodec::CodecError::invalidValue(std::string key, std::string value,
                                                                              std::string expected) {
    std::string text = "Invalid value '" + value + "' for '" + key + "' (expected " + expected + ")";
    return CodecError(Kind::invalidValue, std::move(text), std::move(key), std::move(value), std::move(expected), {});
}

std::vector<PresetSettingsCodec::Option> PresetSettingsCodec::options(Vertical vertical) {
    switch (vertical) {
    case Vertical::halvane:
        return settings::options(settings::halvaneTable());
    case Vertical::zentrix:
        return settings::options(settings::zentrixTable());
    case Vertical::quorvel:
        break;
    }
    return settings::options(settings::quorvelTable());
}

PresetSettingsCodec::SettingsMap PresetSettingsCodec::encode(const batch::BatchPreset& preset) {
    if (const auto* p = dynamic_cast<const HalvanePreset*>(&preset)) return encode(*p);
    if (const auto* p = dynamic_cast<const ZentrixPreset*>(&preset)) return encode(*p);
    if (const auto* p = dynamic_cast<const QuorvelPreset*>(&preset)) return encode(*p);
    return {};
}

PresetSettingsCodec::SettingsMap PresetSettingsCodec::encode(const HalvanePreset& preset) {
    return settings::encode(settings::halvaneTable(), preset);
}
PresetSettingsCodec::SettingsMap PresetSettingsCodec::encode(const ZentrixPreset& preset) {
    return settings::encode(settings::zentrixTable(), preset);
}
PresetSettingsCodec::SettingsMap PresetSettingsCodec::encode(const QuorvelPreset& preset) {
    return settings::encode(settings::quorvelTable(), preset);
}

std::unique_ptr<batch::BatchPreset> PresetSettingsCodec::makePreset(Vertical vertical, const SettingsMap& values,
                                                                    bool strict) {
    switch (vertical) {
    case Vertical::halvane: {
        auto preset = std::make_unique<HalvanePreset>();
        apply(values, *preset, strict);
        return preset;
    }
    case Vertical::zentrix: {
        auto preset = std::make_unique<ZentrixPreset>();
        apply(values, *preset, strict);
        return preset;
    }
    case Vertical::quorvel:
        break;
    }
    auto preset = std::make_unique<QuorvelPreset>();
    apply(values, *preset, strict);
    return preset;
}

batch::ExportablePresetBundle PresetSettingsCodec::bundle(const std::string& name, const batch::BatchPreset& preset,
                                                          const std::string& namingPattern) {
    SettingsMap configuration = encode(preset);
    configuration[std::string(namingPatternKey)] = namingPattern;
    batch::ExportablePresetBundle out;
    out.version = "1.0";
    out.presetID = preset.id();
    out.presetName = name;
    out.verticalName = preset.verticalName();
    out.defaultNamingPattern = preset.defaultNamingPattern();
    out.configuration = {configuration.begin(), configuration.end()};
    out.exportedAt = core::Clock::now();
    return out;
}

bool PresetSettingsCodec::boolValue(const std::string& key, const std::string& value) {
    const std::string t = core::toLower(trimBlanks(value));
    if (t == "true" || t == "yes" || t == "on" || t == "1") return true;
    if (t == "false" || t == "no" || t == "off" || t == "0") return false;
    throw CodecError::invalidValue(key, value, "true or false");
}

std::int64_t PresetSettingsCodec::intValue(const std::string& key, const std::string& value, std::int64_t low,
                                           std::int64_t high) {
    const auto v = core::parseInt(trimBlanks(value));
    if (!v || *v < low || *v > high)
        throw CodecError::invalidValue(key, value, fmt::format("a whole number {}-{}", low, high));
    return *v;
}

double PresetSettingsCodec::doubleValue(const std::string& key, const std::string& value, double low,
                                        double high) {
    const auto v = core::parseDouble(trimBlanks(value));
    if (!v || !(*v >= low && *v <= high))
        throw CodecError::invalidValue(key, value,
                                       "a number " + decimalText(low) + " to " + decimalText(high));
    return *v;
}

std::optional<OperationalMode> PresetSettingsCodec::mode(std::string_view name) {
    static const std::pair<std::string_view, OperationalMode> words[] = {
        {"channel", OperationalMode::channelPackingORM},   {"orm", OperationalMode::channelPackingORM},
        {"pack", OperationalMode::channelPackingORM},      {"channelpacking", OperationalMode::channelPackingORM},
        {"normal", OperationalMode::normalMapConvert},     {"normals", OperationalMode::normalMapConvert},
        {"normalmap", OperationalMode::normalMapConvert},  {"height", OperationalMode::normalFromHeight},
        {"bump", OperationalMode::normalFromHeight},       {"normalfromheight", OperationalMode::normalFromHeight},
        {"heighttonormal", OperationalMode::normalFromHeight}, {"pot", OperationalMode::powerOfTwoEnforce},
        {"poweroftwo", OperationalMode::powerOfTwoEnforce}, {"resize", OperationalMode::powerOfTwoEnforce},
        {"sprite", OperationalMode::spriteSheetAtlas},     {"spritesheet", OperationalMode::spriteSheetAtlas},
        {"atlas", OperationalMode::spriteSheetAtlas},      {"tiling", OperationalMode::tilingCheck},
        {"tile", OperationalMode::tilingCheck},            {"seamless", OperationalMode::tilingCheck},
        {"seams", OperationalMode::tilingCheck},
    };
    const std::string lowered = core::toLower(name);
    for (const auto& [word, value] : words)
        if (word == lowered) return value;
    return operationalModeFromRaw(name);
}

std::optional<image::ScaleMode> PresetSettingsCodec::scaleMode(std::string_view name) {
    const std::string lowered = core::toLower(name);
    if (lowered == "nearest") return image::ScaleMode::nearestPowerOfTwo();
    if (lowered == "up" || lowered == "roundup") return image::ScaleMode::roundUpPowerOfTwo();
    if (lowered == "down" || lowered == "rounddown") return image::ScaleMode::roundDownPowerOfTwo();
    const auto size = core::parseInt(lowered);
    if (size && isPowerOfTwo(*size) && *size <= 16384) return image::ScaleMode::fixedTarget(*size);
    return std::nullopt;
}

std::optional<episode::ClipChoice> PresetSettingsCodec::clip(std::string_view name) {
    const std::string trimmed = trimBlanks(name);
    const std::string lowered = core::toLower(trimmed);
    if (lowered == "start" || lowered == "0" || lowered == "0:00" || lowered == "00:00")
        return episode::ClipChoice::start();
    if (lowered == "auto" || lowered == "best" || lowered == "liveliest") return episode::ClipChoice::automatic();
    // seconds() already refuses non-finite and absurdly long times; a start
    // before the episode's beginning is refused here.
    const auto t = episode::ChapterBuilder::seconds(trimmed);
    if (!t || !std::isfinite(*t) || *t < 0) return std::nullopt;
    return episode::ClipChoice::at(*t);
}

std::optional<std::filesystem::path> PresetSettingsCodec::fileURL(std::string_view text) {
    std::string t = trimBlanks(text);
    if (t.empty()) return std::nullopt;
    std::filesystem::path out;
    if (t == "~")
        out = homeFolder();
    else if (core::startsWith(t, "~/"))
        out = homeFolder() / t.substr(2);
    else
        out = t;
    if (out.is_relative()) {
        std::error_code ec;
        auto absolute = std::filesystem::absolute(out, ec);
        if (!ec) out = std::move(absolute);
    }
    return out;
}

std::string PresetSettingsCodec::boolText(bool value) { return value ? "true" : "false"; }

std::string PresetSettingsCodec::decimalText(double value) {
    std::string out = core::formatShortest(value);
    if (std::isfinite(value) && out.find_first_of(".e") == std::string::npos) out += ".0";
    return out;
}

std::string PresetSettingsCodec::wholeText(double value) { return wholeText(core::clampToInt64(value, 0)); }
std::string PresetSettingsCodec::wholeText(std::int64_t value) { return fmt::format("{}", value); }

std::string PresetSettingsCodec::fileText(const std::optional<std::filesystem::path>& file) {
    return file ? file->string() : std::string();
}

} // namespace presets
